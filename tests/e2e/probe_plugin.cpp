// A Qt generic plugin that anyone may name to the installed window through
// QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS=tessel-probe, as the package
// test does: it writes the capability sets of the process it was loaded
// into (the Cap lines of /proc/self/status) to the file TESSEL_PROBE_RECORD
// names. With TESSEL_PROBE_DRIVE="SERIAL ADDRESS" it then drives the window
// as a user would: waits for the server's row, clicks it, types the address,
// presses "&Set IP address", answers each box (OK, else No) and closes the
// window, writing what it saw to the same file.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QGenericPlugin>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <algorithm>

namespace {

void Record(const QString& line)
{
    QFile file(qEnvironmentVariable("TESSEL_PROBE_RECORD"));
    if (!file.open(QIODevice::Append | QIODevice::Text)) return;
    file.write(line.toUtf8() + '\n');
}

QPushButton* ButtonNamed(QWidget* window, const QString& text)
{
    for (QPushButton* button : window->findChildren<QPushButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

// The four fields of the address control, left to right.
QList<QLineEdit*> AddressFields(QWidget* window)
{
    for (QWidget* control : window->findChildren<QWidget*>()) {
        auto fields = control->findChildren<QLineEdit*>(QString(), Qt::FindDirectChildrenOnly);
        if (fields.size() != 4) continue;
        std::sort(fields.begin(), fields.end(), [](QLineEdit* a, QLineEdit* b) { return a->x() < b->x(); });
        return fields;
    }
    return {};
}

class Driver final : public QObject {
public:
    Driver(QString serial, QString address) : serial_(std::move(serial)), address_(std::move(address))
    {
        // Fires in the nested loops of the boxes and the command as well.
        connect(&poll_, &QTimer::timeout, this, &Driver::Tick);
        poll_.start(200);
    }

private:
    void Tick()
    {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (box->isVisible() && !box->property("tesselProbeAnswered").toBool()) {
                box->setProperty("tesselProbeAnswered", true);
                Record(QStringLiteral("BOX ") + box->text().simplified());
                QAbstractButton* button = box->button(QMessageBox::Ok);
                if (button == nullptr) button = box->button(QMessageBox::No);
                if (button != nullptr) QTimer::singleShot(100, button, &QAbstractButton::click);
            }
            return;
        }
        if (started_) return;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* list = window->isVisible() ? window->findChild<QTreeView*>() : nullptr;
            QPushButton* set = list ? ButtonNamed(window, QStringLiteral("&Set IP address")) : nullptr;
            if (set == nullptr) continue;
            const QAbstractItemModel* model = list->model();
            for (int row = 0; row < model->rowCount(); ++row) {
                if (model->index(row, 0).data().toString() != serial_) continue;
                started_ = true;
                Record(QStringLiteral("LISTED ") + serial_);
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  list->visualRect(model->index(row, 0)).center());
                const QStringList parts = address_.split(QLatin1Char('.'));
                const QList<QLineEdit*> fields = AddressFields(window);
                for (int i = 0; i < fields.size() && i < parts.size(); ++i) {
                    fields[i]->setFocus();
                    fields[i]->selectAll();
                    QTest::keyClicks(fields[i], parts[i]);
                }
                // The whole command runs inside this click; the poll answers
                // its boxes meanwhile.
                QTimer::singleShot(0, window, [window, set, list, row] {
                    set->click();
                    Record(QStringLiteral("ROW ") + list->model()->index(row, 0).data().toString() + QLatin1Char(' ') +
                           list->model()->index(row, 1).data().toString());
                    if (QPushButton* close = ButtonNamed(window, QStringLiteral("&Close"))) close->click();
                });
                return;
            }
        }
    }

    QString serial_, address_;
    QTimer poll_;
    bool started_ = false;
};

}  // namespace

class ProbePlugin final : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "probe_plugin.json")

public:
    QObject* create(const QString& /*key*/, const QString& /*parameters*/) override
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly | QIODevice::Text))
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("Cap")) Record(QString::fromLatin1(line.simplified()));
        const QStringList drive =
            qEnvironmentVariable("TESSEL_PROBE_DRIVE").split(QLatin1Char(' '), Qt::SkipEmptyParts);
        return drive.size() == 2 ? new Driver(drive[0], drive[1]) : nullptr;
    }
};

#include "probe_plugin.moc"
