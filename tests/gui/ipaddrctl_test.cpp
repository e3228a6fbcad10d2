// The address control as the user types into it: real key events go to the
// focused widget, boxes and beeps to the scripted service.
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <memory>

#include "app/dialogitems.h"
#include "app/ipaddrctl.h"
#include "app/stringtable.h"
#include "tests/gui/gui_test_main.h"
#include "tests/gui/scripted_messagebox.h"

using namespace tessel;
using tessel::testing::ScriptedMessageBoxes;

namespace {

constexpr int kAddressCtrlId = 1025;

const QString kInvalid300 = QStringLiteral(
    "Sorry, but 300 is an invalid IP address entry!   \n"
    "Please specify a value between 0 and 255 for this field.   ");
const QString kMissing = QStringLiteral(
    "There is a missing IP address entry!   \n"
    "Please specify a value between 0 and 255 for this field.   ");

// A dialog with a tab stop on either side of the control and a default
// button that counts its presses.
class Host final : public QDialog {
public:
    explicit Host(std::uint32_t style)
    {
        before = new QPushButton(QStringLiteral("Before"), this);
        before->setGeometry(4, 4, 60, 24);
        control = new CIPAddrCtl(this, style);
        SetDlgCtrlID(control, kAddressCtrlId);
        control->setGeometry(70, 4, 130, 26);
        after = new QPushButton(QStringLiteral("After"), this);
        after->setGeometry(206, 4, 60, 24);
        after->setDefault(true);
        QObject::connect(after, &QPushButton::clicked, [this] { ++defaultPresses; });
        resize(272, 36);
    }

    QPushButton* before;
    CIPAddrCtl* control;
    QPushButton* after;
    int defaultPresses = 0;
};

}  // namespace

class IPAddrCtlTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Host> m_host;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;

    CIPAddrCtl* ctl() const { return m_host->control; }

    void open(std::uint32_t style)
    {
        m_host = std::make_unique<Host>(style);
        m_host->show();
        QApplication::setActiveWindow(m_host.get());
        QVERIFY(QTest::qWaitForWindowActive(m_host.get()));
        ctl()->setFocus(Qt::TabFocusReason);
        QCOMPARE(focusedField(), 1);
    }

    // Types each character into whatever has the focus at that moment.
    static void type(const QString& keys)
    {
        for (QChar ch : keys) {
            QWidget* target = QApplication::focusWidget();
            QVERIFY(target);
            QTest::keyClick(target, ch.toLatin1());
        }
    }

    static void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QWidget* target = QApplication::focusWidget();
        QVERIFY(target);
        QTest::keyClick(target, key, mods);
    }

    QStringList texts() const
    {
        QStringList result;
        for (int n = 1; n <= 4; ++n) result << ctl()->GetField(n)->text();
        return result;
    }

    // 1 to 4 for the field that has the focus, 0 when none of them has it.
    int focusedField() const
    {
        QWidget* focus = QApplication::focusWidget();
        return focus && focus->parentWidget() == ctl() ? GetDlgCtrlID(focus) : 0;
    }

    bool wholeTextSelected(int n) const
    {
        const CIPAddrEdit* field = ctl()->GetField(n);
        return field->selectedText() == field->text() && (field->text().isEmpty() || field->hasSelectedText());
    }

    void setFields(const QStringList& values)
    {
        for (int n = 1; n <= 4; ++n) ctl()->GetField(n)->setText(values.at(n - 1));
    }

private slots:
    void init() { m_boxes = std::make_unique<ScriptedMessageBoxes>(); }
    void cleanup()
    {
        m_host.reset();
        m_boxes.reset();
    }

    void dotsMoveToTheNextFieldWithItsTextSelected()
    {
        open(0);
        type(QStringLiteral("10.0.0.5"));
        QCOMPARE(texts(), (QStringList{"10", "0", "0", "5"}));
        QCOMPARE(focusedField(), 4);

        // A dot or a space lands in the next field with its old text selected,
        // so typing replaces it.
        const std::array<std::uint8_t, 4> address{1, 22, 33, 44};
        ctl()->SetAddress(address.data());
        ctl()->GetField(1)->setFocus();
        type(QStringLiteral("."));
        QCOMPARE(focusedField(), 2);
        QVERIFY(wholeTextSelected(2));
        press(Qt::Key_Space);
        QCOMPARE(focusedField(), 3);
        QVERIFY(wholeTextSelected(3));
        type(QStringLiteral("7"));
        QCOMPARE(texts(), (QStringList{"1", "22", "7", "44"}));
        QCOMPARE(m_boxes->beeps(), 0);
        QVERIFY(m_boxes->boxes().empty());
    }

    // The dot typed after a field that stepped on by itself is the
    // separator: the address typed over the proposal is the one read.
    void anAddressTypedOverTheProposalIsTheAddressRead()
    {
        open(IPAS_NOVALIDATE);
        const std::array<std::uint8_t, 4> proposal{192, 77, 0, 150};
        ctl()->SetAddress(proposal.data());
        m_host->before->setFocus();
        press(Qt::Key_Tab);  // into the control: field 1, its text selected
        QCOMPARE(focusedField(), 1);
        type(QStringLiteral("192.168.1.50"));
        QCOMPARE(texts(), (QStringList{"192", "168", "1", "50"}));
        IPAddrData data;
        QCOMPARE(ctl()->GetAddress(true, &data), 1);
        QCOMPARE(data.octets, (std::array<std::uint8_t, 4>{192, 168, 1, 50}));
        QCOMPARE(m_boxes->beeps(), 0);
        QVERIFY(m_boxes->boxes().empty());
    }

    void aFourthDigitIntoAFullFieldInsertsNothingAndMovesOn()
    {
        open(0);
        setFields({"123", "", "", "234"});
        CIPAddrEdit* first = ctl()->GetField(1);
        first->setFocus();
        first->setCursorPosition(1);
        type(QStringLiteral("9"));
        QCOMPARE(texts(), (QStringList{"123", "", "", "234"}));
        QCOMPARE(focusedField(), 2);

        // In the last field there is nowhere to go: the focus stays.
        CIPAddrEdit* last = ctl()->GetField(4);
        last->setFocus();
        last->setCursorPosition(3);
        type(QStringLiteral("5"));
        QCOMPARE(texts(), (QStringList{"123", "", "", "234"}));
        QCOMPARE(focusedField(), 4);
        QVERIFY(m_boxes->boxes().empty());
    }

    void aFullFieldOutOfRangeIsReportedWhenValidating()
    {
        open(0);
        type(QStringLiteral("300"));
        QCOMPARE(m_boxes->boxes().size(), std::size_t{1});
        const auto& box = m_boxes->boxes().front();
        QCOMPARE(box.textId, int{IDS_IPADDR_INVALID});
        QCOMPARE(box.text, kInvalid300);
        QCOMPARE(box.caption, QStringLiteral("Bad user input"));
        QCOMPARE(box.icon, MsgIcon::Exclamation);
        QCOMPARE(box.buttons, MsgButtons::Ok);
        QCOMPARE(box.owner.data(), static_cast<QWidget*>(ctl()));
        // The focus stays on the field, its text selected for retyping.
        QCOMPARE(focusedField(), 1);
        QVERIFY(wholeTextSelected(1));
        type(QStringLiteral("30."));
        QCOMPARE(texts(), (QStringList{"30", "", "", ""}));
        QCOMPARE(focusedField(), 2);
        QCOMPARE(m_boxes->boxes().size(), std::size_t{1});
    }

    void withoutValidationAFullFieldMovesOnAndTheErrorWaitsForTheRead()
    {
        open(IPAS_NOVALIDATE);
        type(QStringLiteral("300"));
        QVERIFY(m_boxes->boxes().empty());
        QCOMPARE(focusedField(), 2);
        type(QStringLiteral("1.2.3"));

        IPAddrData data;
        data.octets = {9, 9, 9, 9};
        QCOMPARE(ctl()->GetAddress(true, &data), 0);
        QCOMPARE(data.badField, 1);
        QCOMPARE(data.octets, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
        QCOMPARE(m_boxes->boxes().size(), std::size_t{1});
        QCOMPARE(m_boxes->boxes().front().text, kInvalid300);
        QCOMPARE(focusedField(), 1);
        QVERIFY(wholeTextSelected(1));
    }

    void anEmptyFieldIsReportedAsMissing()
    {
        open(IPAS_NOVALIDATE);
        type(QStringLiteral("10..0.1"));
        QCOMPARE(texts(), (QStringList{"10", "", "0", "1"}));

        IPAddrData data;
        QCOMPARE(ctl()->GetAddress(true, &data), 0);
        QCOMPARE(data.badField, 2);
        QCOMPARE(data.octets, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
        QCOMPARE(m_boxes->boxes().size(), std::size_t{1});
        const auto& box = m_boxes->boxes().front();
        QCOMPARE(box.textId, int{IDS_IPADDR_MISSING});
        QCOMPARE(box.text, kMissing);
        QCOMPARE(box.caption, QStringLiteral("Bad user input"));
        QCOMPARE(box.icon, MsgIcon::Exclamation);
        QCOMPARE(focusedField(), 2);
    }

    void theFirstBadFieldIsTheOneReported()
    {
        open(IPAS_NOVALIDATE);
        type(QStringLiteral("10.0.256.1"));
        QCOMPARE(texts(), (QStringList{"10", "0", "256", "1"}));
        ctl()->GetField(1)->setFocus();

        IPAddrData data;
        QCOMPARE(ctl()->GetAddress(true, &data), 0);
        QCOMPARE(data.badField, 3);
        QCOMPARE(m_boxes->boxes().size(), std::size_t{1});
        QCOMPARE(m_boxes->boxes().front().text, FormatString1(IDS_IPADDR_INVALID, QStringLiteral("256")));
        QCOMPARE(focusedField(), 3);
        QVERIFY(wholeTextSelected(3));

        // Field 2 empty as well: it comes first, and silently when asked so.
        m_boxes->clear();
        ctl()->GetField(2)->clear();
        QCOMPARE(ctl()->GetAddress(false, &data), 0);
        QCOMPARE(data.badField, 2);
        QVERIFY(m_boxes->boxes().empty());
        QCOMPARE(focusedField(), 2);
    }

    // Text that typing could not give is refused as a typed letter is, by
    // either paste key: "1x" would read as 1 and "abc" as 0.
    void pastedTextThatIsNoNumberIsRefusedWithABeep()
    {
        open(IPAS_NOVALIDATE);
        int beeps = 0;
        for (const char* pasted : {"-5", "1x", "abc", " 7"}) {
            QGuiApplication::clipboard()->setText(QString::fromLatin1(pasted));
            press(Qt::Key_V, Qt::ControlModifier);
            press(Qt::Key_Insert, Qt::ShiftModifier);
            beeps += 2;
            QCOMPARE(texts().front(), QString());
            QCOMPARE(m_boxes->beeps(), beeps);
        }
        ctl()->GetField(1)->paste();  // as the field's context menu pastes
        QCOMPARE(texts().front(), QString());
        QCOMPARE(focusedField(), 1);
    }

    // Pastes the field takes: digits are cut to three and fill the field as
    // typing does (the box quotes the text as pasted); a whole address fills
    // the four fields, from either paste key or the field's menu.
    void pastedTextThatIsTaken_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<int>("how");  // 0 Ctrl+V, 1 Shift+Insert, 2 the menu's Paste
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<int>("focus");
        QTest::addColumn<QString>("box");
        const QStringList none{"", "", "", ""};
        QTest::newRow("digits") << "12345" << 0 << QStringList{"123", "", "", ""} << 2 << QString();
        QTest::newRow("too big") << "999" << 0 << QStringList{"999", "", "", ""} << 1
                                 << FormatString1(IDS_IPADDR_INVALID, QStringLiteral("999"));
        const QStringList address{"10", "77", "0", "99"};
        QTest::newRow("address, Ctrl+V") << "10.77.0.99" << 0 << address << 4 << QString();
        QTest::newRow("address, Shift+Insert") << " 10.77.0.99\n" << 1 << address << 4 << QString();
        QTest::newRow("address, menu") << "10.77.0.99" << 2 << address << 4 << QString();
    }
    void pastedTextThatIsTaken()
    {
        QFETCH(QString, clipboard);
        QFETCH(int, how);
        QFETCH(QStringList, fields);
        QFETCH(int, focus);
        QFETCH(QString, box);
        open(0);
        QGuiApplication::clipboard()->setText(clipboard);
        if (how == 0) press(Qt::Key_V, Qt::ControlModifier);
        if (how == 1) press(Qt::Key_Insert, Qt::ShiftModifier);
        if (how == 2) {
            CIPAddrEdit* first = ctl()->GetField(1);
            QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, QPoint(2, 2), first->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(first, &menuEvent);
            QTRY_VERIFY(QApplication::activePopupWidget());
            auto* paste = QApplication::activePopupWidget()->findChild<QAction*>(QStringLiteral("edit-paste"));
            QVERIFY(paste);
            paste->trigger();
            QApplication::activePopupWidget()->close();
        }
        QCOMPARE(texts(), fields);
        QCOMPARE(focusedField(), focus);
        QCOMPARE(m_boxes->beeps(), 0);
        QCOMPARE(m_boxes->boxes().size(), std::size_t{box.isEmpty() ? 0u : 1u});
        if (!box.isEmpty()) QCOMPARE(m_boxes->boxes().front().text, box);
    }

    void setThenGetGivesTheSameBytes()
    {
        open(0);
        const std::array<std::uint8_t, 4> address{10, 0, 0, 5};
        QCOMPARE(ctl()->SetAddress(address.data()), 1);
        QCOMPARE(texts(), (QStringList{"10", "0", "0", "5"}));

        IPAddrData data;
        QCOMPARE(ctl()->GetAddress(true, &data), 1);
        QCOMPARE(data.octets, address);
        QCOMPARE(data.badField, 0);

        const std::array<std::uint8_t, 4> top{255, 255, 255, 255};
        ctl()->SetAddress(top.data());
        QCOMPARE(ctl()->GetAddress(false, &data), 1);
        QCOMPARE(data.octets, top);
        QVERIFY(m_boxes->boxes().empty());
    }

    void nullPointersAreRefused()
    {
        open(0);
        setFields({"1", "2", "3", "4"});
        QCOMPARE(ctl()->GetAddress(true, nullptr), 0);
        QCOMPARE(ctl()->SetAddress(nullptr), 0);
        QCOMPARE(texts(), (QStringList{"1", "2", "3", "4"}));
        QVERIFY(m_boxes->boxes().empty());
    }

    void lettersBeepAndAreNotInserted()
    {
        open(0);
        type(QStringLiteral("1a-2"));
        QCOMPARE(texts().front(), QStringLiteral("12"));
        QCOMPARE(m_boxes->beeps(), 2);
        QCOMPARE(focusedField(), 1);
        QVERIFY(m_boxes->boxes().empty());
    }

    void enterDoesNothing()
    {
        open(0);
        type(QStringLiteral("12"));
        press(Qt::Key_Return);
        press(Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(texts().front(), QStringLiteral("12"));
        QCOMPARE(focusedField(), 1);
        QCOMPARE(m_host->defaultPresses, 0);
        QVERIFY(m_host->isVisible());

        // Not even a full field moves on, as any other control key would.
        ctl()->GetField(1)->setText(QStringLiteral("123"));
        press(Qt::Key_Return);
        QCOMPARE(focusedField(), 1);
        QCOMPARE(m_host->defaultPresses, 0);
        QCOMPARE(m_boxes->beeps(), 0);
        QVERIFY(m_boxes->boxes().empty());
    }

    void escapeIsLeftToTheDialog()
    {
        open(0);
        ctl()->GetField(1)->setText(QStringLiteral("123"));
        press(Qt::Key_Escape);
        QVERIFY(!m_host->isVisible());
        QCOMPARE(m_host->result(), int{QDialog::Rejected});
        QVERIFY(m_boxes->boxes().empty());
        QCOMPARE(m_boxes->beeps(), 0);
    }

    void tabAndShiftTabLeaveTheWholeControl()
    {
        open(0);
        type(QStringLiteral("1."));
        QCOMPARE(focusedField(), 2);
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_host->after);

        // Back into the control: it starts at field 1, text selected.
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focusedField(), 1);
        QVERIFY(wholeTextSelected(1));

        ctl()->GetField(3)->setFocus();
        press(Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), m_host->before);
        press(Qt::Key_Tab);
        QCOMPARE(focusedField(), 1);

        ctl()->GetField(4)->setFocus();
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), m_host->before);

        // A tab stop that cannot take the focus is passed over.
        m_host->after->setEnabled(false);
        ctl()->GetField(2)->setFocus();
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_host->before);
        QCOMPARE(texts(), (QStringList{"1", "", "", ""}));
    }

    void backtabWithoutShiftStillGoesBack()
    {
        open(0);
        ctl()->GetField(3)->setFocus();
        press(Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), m_host->before);
    }

    // Alt with a character, an input method's text and a drop never put
    // anything into a field; Alt+letter still reaches the window.
    void textOnlyThroughTheCharacterRules()
    {
        open(0);
        int altKeysAtWindow = 0;
        struct Counter final : QObject {
            int* count;
            explicit Counter(int* c) : count(c) {}
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->modifiers() & Qt::AltModifier)
                    ++*count;
                return false;
            }
        } counter(&altKeysAtWindow);
        m_host->installEventFilter(&counter);
        CIPAddrEdit* first = ctl()->GetField(1);
        press(Qt::Key_5, Qt::AltModifier);
        QVERIFY(altKeysAtWindow > 0);
        const int afterFirst = altKeysAtWindow;
        press(Qt::Key_A, Qt::AltModifier);
        QVERIFY(altKeysAtWindow > afterFirst);

        QInputMethodEvent composed;
        composed.setCommitString(QStringLiteral("7x"));
        QApplication::sendEvent(first, &composed);

        QMimeData dragged;
        dragged.setText(QStringLiteral("300"));
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(first, &drop);
        QCOMPARE(texts(), (QStringList{"", "", "", ""}));
        QCOMPARE(focusedField(), 1);
        QCOMPARE(m_boxes->beeps(), 0);
        ctl()->SetReadOnly(true);
        ctl()->SetReadOnly(false);
        QVERIFY(!first->testAttribute(Qt::WA_InputMethodEnabled));
        m_host->removeEventFilter(&counter);
    }

    void arrowsCrossFieldEdgesOnly()
    {
        open(0);
        setFields({"12", "34", "56", "78"});
        CIPAddrEdit* second = ctl()->GetField(2);
        second->setFocus();
        second->setCursorPosition(1);
        press(Qt::Key_Left);
        QCOMPARE(focusedField(), 2);  // the caret was inside the text
        QCOMPARE(second->cursorPosition(), 0);
        press(Qt::Key_Left);
        QCOMPARE(focusedField(), 1);
        press(Qt::Key_Left, Qt::ShiftModifier);  // modifiers are not looked at
        QCOMPARE(focusedField(), 1);             // no field before the first

        CIPAddrEdit* third = ctl()->GetField(3);
        third->setFocus();
        third->setCursorPosition(2);
        press(Qt::Key_Right);
        QCOMPARE(focusedField(), 4);
        ctl()->GetField(4)->setCursorPosition(2);
        press(Qt::Key_Right);
        QCOMPARE(focusedField(), 4);  // no field after the last
        QCOMPARE(texts(), (QStringList{"12", "34", "56", "78"}));
    }

    void aNeighbourKeepsTheSelectionItHad()
    {
        open(0);
        setFields({"12", "34", "", ""});
        // Field 2 is left by a dot with its text selected; coming back to it
        // from the empty field 3 (caret at 0) finds the selection still there.
        type(QStringLiteral("."));
        QVERIFY(wholeTextSelected(2));
        type(QStringLiteral("."));
        QCOMPARE(focusedField(), 3);
        press(Qt::Key_Left);
        QCOMPARE(focusedField(), 2);
        QVERIFY(ctl()->GetField(2)->hasSelectedText());
        QVERIFY(wholeTextSelected(2));

        // The arrow that leaves a field is that field's key as well: it
        // drops the selection there, and the field comes back without it.
        press(Qt::Key_Right);  // caret at the end of the selection
        QCOMPARE(focusedField(), 3);
        press(Qt::Key_Left);
        QCOMPARE(focusedField(), 2);
        QVERIFY(!ctl()->GetField(2)->hasSelectedText());
        QCOMPARE(texts(), (QStringList{"12", "34", "", ""}));
    }

    void readOnlyFieldsRefuseEditingButStillMove()
    {
        open(0);
        const std::array<std::uint8_t, 4> address{10, 1, 2, 3};
        ctl()->SetAddress(address.data());
        QCOMPARE(ctl()->SetReadOnly(true), 1);
        QVERIFY(ctl()->IsReadOnly());
        ctl()->GetField(1)->setFocus();
        ctl()->GetField(1)->selectAll();
        type(QStringLiteral("9"));
        press(Qt::Key_Backspace);
        QCOMPARE(texts(), (QStringList{"10", "1", "2", "3"}));
        type(QStringLiteral("."));
        QCOMPARE(focusedField(), 2);
        QCOMPARE(ctl()->SetReadOnly(false), 1);
        type(QStringLiteral("7"));
        QCOMPARE(texts(), (QStringList{"10", "7", "2", "3"}));
    }

    void backgroundFollowsEnabledAndReadOnly()
    {
        open(0);
        // A point in the gap above field 1, inside the frame: only the
        // control's own background shows there.
        const QRect client = ctl()->contentsRect();
        const QPoint probe = client.topLeft() + QPoint(ctl()->FieldRect(0).center().x(), 0);
        const auto colourAt = [&] { return ctl()->grab().toImage().pixelColor(probe); };
        const QColor window = ctl()->palette().color(QPalette::Active, QPalette::Base);
        const QColor face = ctl()->palette().color(QPalette::Active, QPalette::Button);
        QVERIFY(window != face);

        QCOMPARE(colourAt(), window);
        ctl()->SetReadOnly(true);
        QCOMPARE(colourAt(), face);
        ctl()->SetReadOnly(false);
        ctl()->setEnabled(false);
        QCOMPARE(colourAt(), face);
        QVERIFY(!ctl()->GetField(1)->isEnabled());
        ctl()->setEnabled(true);
        QCOMPARE(colourAt(), window);
        QVERIFY(ctl()->GetField(4)->isEnabled());
    }

    void loadsAndReadsOrStopsOnTheBadField()
    {
        open(0);
        const std::array<std::uint8_t, 4> loaded{172, 16, 0, 9};
        QCOMPARE(ctl()->SetAddress(loaded.data()), 1);
        QCOMPARE(texts(), (QStringList{"172", "16", "0", "9"}));

        ctl()->GetField(4)->setText(QStringLiteral("77"));
        IPAddrData data;
        QCOMPARE(ctl()->GetAddress(true, &data), 1);
        QCOMPARE(data.octets, (std::array<std::uint8_t, 4>{172, 16, 0, 77}));

        // A read that fails leaves the focus, text selected, on the field
        // at fault, wherever it was before.
        ctl()->GetField(2)->clear();
        m_host->after->setFocus();
        QCOMPARE(ctl()->GetAddress(true, &data), 0);
        QCOMPARE(data.badField, 2);
        QCOMPARE(m_boxes->boxes().size(), std::size_t{1});
        QCOMPARE(m_boxes->boxes().front().textId, int{IDS_IPADDR_MISSING});
        QCOMPARE(focusedField(), 2);
    }

    void aBoxRecordsTheHelpContextOfTheMoment()
    {
        open(0);
        HelpContext helpContext;
        SetHelpContextSource(&helpContext);
        type(QStringLiteral("999"));
        helpContext.Set(19);
        IPAddrData data;
        ctl()->GetAddress(true, &data);
        SetHelpContextSource(nullptr);
        QCOMPARE(m_boxes->boxes().size(), std::size_t{2});
        QCOMPARE(m_boxes->boxes()[0].helpContext, 1);
        QCOMPARE(m_boxes->boxes()[1].helpContext, 19);
    }
};

TESSEL_GUI_TEST_MAIN(IPAddrCtlTest)
#include "ipaddrctl_test.moc"
