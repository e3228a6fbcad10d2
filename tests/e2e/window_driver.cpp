// Drives the real window as a user would, for the end-to-end test bed:
// waits for the server's row, clicks it, types the address with key events,
// presses "&Set IP address", and closes the window with "&Close". Boxes go
// to the scripted service (the outcome box OK, the browser offer No) and
// are printed; so is the row afterwards.
//   window_driver SERIAL ADDRESS   (run in the program's namespace; the
//   logfile lands in the working folder)
// Exit status: 0 when the run went through to the close, 1 otherwise.
#include <QAbstractItemView>
#include <QApplication>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include <cstdio>

#include "app/serverlistmodel.h"
#include "app/tesseldlg.h"
#include "app/windowclasses.h"
#include "app/ipaddrctl.h"
#include "app/dialogitems.h"
#include "platform/privileges.h"
#include "resources/resource.h"
#include "tests/gui/scripted_messagebox.h"

using namespace tessel;

namespace {

constexpr int kListedWithinMs = 60000;

void Say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

int RowOf(const ServerListItemModel& model, const QString& serial)
{
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.Text(row, 0) == serial) return row;
    return -1;
}

}  // namespace

int main(int argc, char* argv[])
{
    // As the window's own main() does, before any thread.
    LowerNetworkRights();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_driver SERIAL ADDRESS\n");
        return 2;
    }
    const QString serial = QString::fromLocal8Bit(argv[1]);
    const QString address = QString::fromLocal8Bit(argv[2]);
    RegisterWindowClasses();
    tessel::testing::ScriptedMessageBoxes boxes;
    boxes.queueAnswer(MsgAnswer::Ok);
    boxes.queueAnswer(MsgAnswer::No);
    boxes.onShow([](const tessel::testing::ShownBox& box) {
        Say(QStringLiteral("BOX %1 help %2").arg(box.textId).arg(box.helpContext));
        for (const QString& line : box.text.split(QLatin1Char('\n'))) {
            QString trimmed = line;
            while (trimmed.endsWith(QLatin1Char(' '))) trimmed.chop(1);
            Say(trimmed);
        }
    });

    CTesselDlg window(false);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) Say(QStringLiteral("the window did not become active"));

    auto* list = qobject_cast<QTreeView*>(GetDlgItem(&window, IDC_SERVER_LIST));
    ServerListItemModel& model = window.ServerListModel();
    if (!QTest::qWaitFor([&] { return RowOf(model, serial) >= 0; }, kListedWithinMs)) {
        Say(QStringLiteral("not listed: ") + serial);
        return 1;
    }
    const int row = RowOf(model, serial);
    Say(QStringLiteral("LISTED %1 %2").arg(serial, model.Text(row, 1)));

    // A click on the row, as the user picks the server.
    const QRect cell = list->visualRect(model.index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    Say(QStringLiteral("STATUS ") + GetWindowText(GetDlgItem(&window, IDC_STATUS)));

    // The address typed into the control, field by field: "." moves on.
    auto* control = qobject_cast<CIPAddrCtl*>(GetDlgItem(&window, IDC_IPADDRESS));
    control->GetField(1)->setFocus();
    control->GetField(1)->selectAll();
    for (const QChar ch : address) {
        QWidget* focused = QApplication::focusWidget();
        QTest::keyClick(focused ? focused : control->GetField(1), ch.toLatin1());
    }

    // The whole command runs inside this click.
    auto* setIp = qobject_cast<QPushButton*>(GetDlgItem(&window, IDC_SET_IP));
    QTest::mouseClick(setIp, Qt::LeftButton);
    QCoreApplication::processEvents();
    Say(QStringLiteral("ROW %1 %2").arg(model.Text(RowOf(model, serial), 0), model.Text(RowOf(model, serial), 1)));

    auto* close = qobject_cast<QPushButton*>(GetDlgItem(&window, IDC_CLOSE));
    QTest::mouseClick(close, Qt::LeftButton);
    Say(window.isVisible() ? QStringLiteral("still open") : QStringLiteral("CLOSED"));
    return window.isVisible() ? 1 : 0;
}
