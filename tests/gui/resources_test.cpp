// The string table and the message-box service: the texts byte for byte,
// what every box is completed with, and the real box the program shows.
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <atomic>

#include "app/messagebox.h"
#include "app/stringtable.h"
#include "tests/gui/gui_test_main.h"
#include "tests/gui/scripted_messagebox.h"

using namespace tessel;
using tessel::testing::ScriptedMessageBoxes;

namespace {

// Runs `inspect` on the message box once it is up.
void WhenBoxShows(std::function<void(QMessageBox*)> inspect)
{
    QTimer::singleShot(0, [inspect = std::move(inspect)] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY2(box, "no message box came up");
        inspect(box);
    });
}

}  // namespace

class ResourcesTest final : public QObject {
    Q_OBJECT

private slots:
    void textsAreTheSystemsOwnByteForByte()
    {
        QCOMPARE(LoadString(IDS_PROGRAM_TITLE).toUtf8(), QByteArray("MERROW Tessel"));
        QCOMPARE(LoadString(IDS_IPADDR_CAPTION).toUtf8(), QByteArray("Bad user input"));
        QCOMPARE(LoadString(IDS_IPADDR_MISSING).toUtf8(),
                 QByteArray("There is a missing IP address entry!   \n"
                            "Please specify a value between 0 and 255 for this field.   "));
        QCOMPARE(FormatString1(IDS_IPADDR_INVALID, QStringLiteral("-12")).toUtf8(),
                 QByteArray("Sorry, but -12 is an invalid IP address entry!   \n"
                            "Please specify a value between 0 and 255 for this field.   "));
        QVERIFY(LoadString(32775).isNull());
        QVERIFY(LoadString(0).isNull());
    }

    void aBoxIsCompletedBeforeTheServiceSeesIt()
    {
        ScriptedMessageBoxes boxes;
        HelpContext helpContext;
        helpContext.Set(26);
        SetHelpContextSource(&helpContext);
        QWidget owner;

        boxes.queueAnswer(MsgAnswer::No);
        QCOMPARE(ShowMessageBox(&owner, IDS_PROGRAM_TITLE, MsgButtons::YesNo), MsgAnswer::No);
        // No queued answer: the default button answers.
        QCOMPARE(ShowMessageBox(nullptr, IDS_IPADDR_MISSING, MsgButtons::YesNoCancel, MsgIcon::Question, 2),
                 MsgAnswer::Cancel);
        SetHelpContextSource(nullptr);
        QCOMPARE(ShowMessageBox(nullptr, IDS_IPADDR_MISSING, MsgButtons::OkCancel, MsgIcon::Stop, 7), MsgAnswer::Ok);

        QCOMPARE(boxes.boxes().size(), std::size_t{3});
        const auto& first = boxes.boxes()[0];
        QCOMPARE(first.caption, QStringLiteral("gui_resources"));  // this executable's name
        QCOMPARE(first.text, QStringLiteral("MERROW Tessel"));
        QCOMPARE(first.textId, int{IDS_PROGRAM_TITLE});
        QCOMPARE(first.icon, MsgIcon::Exclamation);  // named none
        QCOMPARE(first.defaultAnswer, MsgAnswer::Yes);
        QCOMPARE(first.owner.data(), &owner);
        QCOMPARE(first.helpContext, 26);
        QCOMPARE(boxes.boxes()[1].icon, MsgIcon::Question);
        QCOMPARE(boxes.boxes()[1].helpContext, 26);
        QCOMPARE(boxes.boxes()[2].helpContext, 0);
        QCOMPARE(boxes.boxes()[2].defaultAnswer, MsgAnswer::Ok);  // out of range: the first

        MessageBeep();
        QCOMPARE(boxes.beeps(), 1);
    }

    void theScriptedServiceStepsAsideWhenItEnds()
    {
        MessageBoxService* before = &MessageBoxes();
        {
            ScriptedMessageBoxes boxes;
            QCOMPARE(&MessageBoxes(), static_cast<MessageBoxService*>(&boxes));
        }
        QCOMPARE(&MessageBoxes(), before);
    }

    void theRealBoxShowsWhatWasAsked()
    {
        SetMessageBoxService(nullptr);
        QWidget owner;
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));

        WhenBoxShows([](QMessageBox* box) {
            QCOMPARE(box->windowTitle(), QStringLiteral("Bad user input"));
            QCOMPARE(box->text(), LoadString(IDS_IPADDR_MISSING));
            QCOMPARE(box->textFormat(), Qt::PlainText);
            QCOMPARE(box->icon(), QMessageBox::Warning);
            QCOMPARE(box->buttons().size(), 1);
            QTest::keyClick(box, Qt::Key_Escape);  // an OK box: Escape means OK
        });
        MessageBoxRequest request;
        request.owner = &owner;
        request.caption = LoadString(IDS_IPADDR_CAPTION);
        request.text = LoadString(IDS_IPADDR_MISSING);
        QCOMPARE(ShowMessageBox(request), MsgAnswer::Ok);
    }

    void aRealYesNoBoxMustBeAnswered()
    {
        SetMessageBoxService(nullptr);
        int helpAsked = 0;
        SetHelpHandler([&](int) { ++helpAsked; });

        WhenBoxShows([](QMessageBox* box) {
            QCOMPARE(box->windowTitle(), QStringLiteral("gui_resources"));
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
            QTest::keyClick(box, Qt::Key_F1);
            // Neither Escape nor closing the window answers a Yes/No box.
            QTest::keyClick(box, Qt::Key_Escape);
            box->close();
            QVERIFY(box->isVisible());
            QTest::keyClick(box, Qt::Key_Return);  // the default button, No
        });
        QCOMPARE(ShowMessageBox(nullptr, IDS_PROGRAM_TITLE, MsgButtons::YesNo, MsgIcon::None, 1), MsgAnswer::No);
        QCOMPARE(helpAsked, 1);
        SetHelpHandler({});
    }
};

TESSEL_GUI_TEST_MAIN(ResourcesTest)
#include "resources_test.moc"
