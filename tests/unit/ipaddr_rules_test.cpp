// The address control's rules without any toolkit: a small fake field set
// does the editing a platform edit field would (replace a selected text,
// else append up to three characters), and records what the rules ask.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "controls/ipaddr_rules.h"
#include "resources/dialogs.h"
#include "resources/resource.h"
#include "resources/texts.h"

namespace tessel {
namespace {

class FakeFields final : public IPAddrView {
public:
    explicit FakeFields(std::uint32_t style) : rules(*this, style) {}

    std::string FieldText(int n) const override { return text[static_cast<std::size_t>(n - 1)]; }
    void SetFieldText(int n, const std::string& t) override { text[static_cast<std::size_t>(n - 1)] = t; }
    void FocusField(int n, bool all) override
    {
        focus = n;
        selected = all;
    }
    void LeaveControl(bool backwards) override { left = backwards ? -1 : 1; }
    void ReportBadValue(int id, const std::string& value) override { boxes.push_back({id, value}); }
    void Beep() override { ++beeps; }
    bool Editable() const override { return !readOnly; }

    void Type(const std::string& keys)
    {
        for (char c : keys) {
            if (!rules.OnChar(focus, c, false)) continue;
            std::string& t = text[static_cast<std::size_t>(focus - 1)];
            if (selected) t.clear();
            selected = false;
            if (t.size() < kIPAddrFieldChars) t += c;
            rules.AfterEdit(focus);
        }
    }

    struct Box {
        int id;
        std::string value;
    };
    IpAddrRules rules;
    std::array<std::string, 4> text{};
    int focus = 1;
    bool selected = true;
    int left = 0;
    int beeps = 0;
    bool readOnly = false;
    std::vector<Box> boxes;
};

using Fields = std::array<std::string, 4>;

// Every usual address typed key by key comes out as typed, into an empty
// control and over a proposal (the control entered by Tab, field 1's text
// selected), in both validation modes: the dot after a field that stepped
// on by itself is the separator, not a second step.
TEST(IPAddrRules, AUsualAddressTypedIsTheAddressStored)
{
    const char* const addresses[] = {"192.168.1.50",  "10.100.5.7",      "172.16.20.30", "192.168.1.10", "10.0.0.5",
                                     "255.255.255.0", "100.200.150.250", "1.22.133.4",   "0.0.0.0",      "8.8.4.4"};
    const Fields proposals[] = {{"", "", "", ""}, {"192", "77", "0", "150"}, {"10", "1", "2", "3"}};
    for (std::uint32_t style : {0u, IPAS_NOVALIDATE}) {
        for (const Fields& proposal : proposals) {
            for (const char* address : addresses) {
                SCOPED_TRACE(std::string(address) + " over " + proposal[1] + ", style " + std::to_string(style));
                FakeFields f(style);
                f.text = proposal;
                f.Type(address);
                Fields expected;
                std::size_t i = 0;
                for (char c : std::string(address)) c == '.' ? void(++i) : void(expected[i] += c);
                EXPECT_EQ(f.text, expected);
                EXPECT_EQ(f.focus, 4);
                EXPECT_EQ(f.beeps, 0);
            }
        }
    }
}

// A dot typed anywhere but right after the step still moves on.
TEST(IPAddrRules, OnlyTheDotRightAfterTheStepIsTheSeparator)
{
    const struct {
        const char* keys;
        bool leaveField2;  // the user clicks away from field 2 and back
        Fields expected;
    } cases[] = {
        {"192..1.2", false, {"192", "", "1", "2"}},    // the second dot steps on
        {"192 1.2.3", false, {"192", "1", "2", "3"}},  // a blank is a dot
        {"10..0.1", false, {"10", "", "0", "1"}},
        {"192.1", true, {"192", "", "1", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        FakeFields f(IPAS_NOVALIDATE);
        const std::string keys = c.keys;
        f.Type(keys.substr(0, 3));
        if (c.leaveField2) {
            f.rules.OnFieldLeft(2);
            f.selected = false;
        }
        f.Type(keys.substr(3));
        EXPECT_EQ(f.text, c.expected);
    }
    // An arrow in the field stepped into is a touch: the dot after it moves.
    FakeFields f(0);
    f.Type("192");
    f.rules.OnArrow(2, true, 1);
    f.Type(".");
    EXPECT_EQ(f.focus, 3);
    // A control character in a full field steps on, but is no number typed:
    // the dot after it moves on.
    FakeFields h(0);
    h.text = {"123", "", "", ""};
    h.selected = false;
    h.Type("\b.");
    EXPECT_EQ(h.focus, 3);
    // No step from a value refused by the box: the dot after it moves on.
    FakeFields g(0);
    g.Type("300.");
    EXPECT_EQ(g.focus, 2);
}

TEST(IPAddrRules, TypingMovesOnAtDotsAndFullFields)
{
    FakeFields g(0);
    g.Type("192.168.1.110");
    EXPECT_EQ(g.text, (Fields{"192", "168", "1", "110"}));
    EXPECT_EQ(g.focus, 4);
    // Letters beep and insert nothing; Enter does nothing; Tab leaves.
    g.Type("a\r");
    EXPECT_EQ(g.beeps, 1);
    EXPECT_EQ(g.text[3], "110");
    EXPECT_TRUE(g.rules.OnChar(4, 8, false));  // Backspace is the field's own
    EXPECT_FALSE(g.rules.OnChar(4, kCharTab, true));
    EXPECT_EQ(g.left, -1);
}

TEST(IPAddrRules, TheTwoValidationModes)
{
    FakeFields checked(0);
    checked.Type("300");
    ASSERT_EQ(checked.boxes.size(), 1u);
    EXPECT_EQ(checked.boxes[0].id, IDS_IPADDR_INVALID);
    EXPECT_EQ(checked.boxes[0].value, "300");
    EXPECT_EQ(checked.focus, 1);
    EXPECT_TRUE(checked.selected);

    // Without validation the field moves on and the read tells of it.
    FakeFields unchecked(IPAS_NOVALIDATE);
    unchecked.Type("300");
    EXPECT_TRUE(unchecked.boxes.empty());
    EXPECT_EQ(unchecked.focus, 2);
    IPAddrData data;
    EXPECT_EQ(unchecked.rules.GetAddress(true, &data), 0);
    EXPECT_EQ(data.badField, 1);
    ASSERT_EQ(unchecked.boxes.size(), 1u);
    EXPECT_EQ(unchecked.boxes[0].value, "300");
    EXPECT_EQ(unchecked.focus, 1);
}

TEST(IPAddrRules, ReadingTheAddress)
{
    const struct {
        std::array<std::string, 4> fields;
        int bad;
        int box;
        const char* quoted;
    } cases[] = {
        {{"10", "", "0", "1"}, 2, IDS_IPADDR_MISSING, ""},
        {{"10", "0", "256", "1"}, 3, IDS_IPADDR_INVALID, "256"},
        {{"-5", "0", "0", "1"}, 1, IDS_IPADDR_MISSING, ""},
        // Text that is no number is missing, never 0.
        {{"1", "-", "0", "1"}, 2, IDS_IPADDR_MISSING, ""},
    };
    for (const auto& c : cases) {
        FakeFields f(IPAS_NOVALIDATE);
        f.text = c.fields;
        IPAddrData data;
        data.octets = {9, 9, 9, 9};
        EXPECT_EQ(f.rules.GetAddress(true, &data), 0);
        EXPECT_EQ(data.badField, c.bad);
        EXPECT_EQ(data.octets, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
        ASSERT_EQ(f.boxes.size(), 1u);
        EXPECT_EQ(f.boxes[0].id, c.box);
        EXPECT_EQ(f.boxes[0].value, c.quoted);
        EXPECT_EQ(f.focus, c.bad);
    }
    FakeFields f(0);
    const std::uint8_t bytes[] = {10, 0, 0, 255};
    EXPECT_EQ(f.rules.SetAddress(bytes), 1);
    EXPECT_EQ(f.rules.SetAddress(nullptr), 0);
    IPAddrData data;
    EXPECT_EQ(f.rules.GetAddress(false, &data), 1);
    EXPECT_EQ(data.octets, (std::array<std::uint8_t, 4>{10, 0, 0, 255}));
    EXPECT_EQ(f.rules.GetAddress(false, nullptr), 0);
}

// A whole dotted address fills the four fields; anything else is the
// field's own paste when it is digits, else refused with a beep.
TEST(IPAddrRules, Pastes)
{
    enum Outcome { Fills, FieldTakesIt, Refused };
    const struct {
        const char* text;
        bool readOnly;
        Outcome outcome;
    } cases[] = {
        {"10.77.0.99", false, Fills},
        {" 10.77.0.99\r\n", false, Fills},  // as copied from a mail or a sheet
        {"010.077.000.099", false, Fills},
        {"10.77.0.99", true, Refused},  // read-only fields take nothing
        {"10.77.0.256", false, Refused},
        {"10.77.0", false, Refused},
        {"10.77.0.99.1", false, Refused},
        {"10.77..99", false, Refused},
        {"10. 77.0.99", false, Refused},
        {"1x", false, Refused},
        {"abc", false, Refused},
        {"-5", false, Refused},
        {" 7", false, Refused},
        {"1.2", false, Refused},
        {"12345", false, FieldTakesIt},  // the field's limit cuts it
        {"", false, FieldTakesIt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        FakeFields f(0);
        f.text = {"1", "2", "3", "4"};
        f.readOnly = c.readOnly;
        f.focus = 2;
        EXPECT_EQ(f.rules.OnPaste(c.text), c.outcome == FieldTakesIt);
        EXPECT_EQ(f.beeps, c.outcome == Refused ? 1 : 0);
        if (c.outcome == Fills) {
            EXPECT_EQ(f.text, (Fields{"10", "77", "0", "99"}));
            EXPECT_EQ(f.focus, 4);
            EXPECT_TRUE(f.selected);
        } else {
            EXPECT_EQ(f.text, (Fields{"1", "2", "3", "4"}));
        }
    }
}

TEST(IPAddrRules, Arrows)
{
    FakeFields f(0);

    f.text = {"1", "22", "", ""};
    f.rules.OnArrow(2, false, 0);  // Left at the start: the previous field, selection kept
    EXPECT_EQ(f.focus, 1);
    EXPECT_FALSE(f.selected);
    f.rules.OnArrow(1, true, 0);  // Right inside the text stays
    EXPECT_EQ(f.focus, 1);
    f.rules.OnArrow(1, true, 1);
    EXPECT_EQ(f.focus, 2);
    f.focus = 0;
    f.rules.OnArrow(1, false, 0);  // nothing before field 1
    f.rules.OnArrow(4, true, 0);   // nor after field 4
    EXPECT_EQ(f.focus, 0);
}

// Tab reaches every control of the main window that does something, in the
// table's order; both windows build their chains from it.
TEST(MainDialogTable, TabReachesEveryControlInOrder)
{
    std::vector<int> stops;
    for (const ControlTemplate& row : MainDialogTemplate().controls)
        if (row.style & style::TabStop) stops.push_back(row.id);
    EXPECT_EQ(stops, (std::vector<int>{IDC_SERVER_LIST, IDC_IPADDRESS, IDC_SET_IP, ID_HELP, IDC_CLOSE,
                                       IDC_HOMEPAGE_SELECTED, IDC_MERROW_HOMEPAGE, IDC_LOGFILE}));
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

// The bad-value text both windows show: "%1" is the value, and a value
// that itself holds "%1" stands as typed.
TEST(IPAddrRules, TheBadValueTextNamesTheValueAsTyped)
{
    const std::string table = TextOf(IDS_IPADDR_INVALID);
    const std::size_t at = table.find("%1");
    ASSERT_NE(at, std::string::npos);
    for (const std::string value : {"999", "-12", "%1%1", ""})
        EXPECT_EQ(FormatText(IDS_IPADDR_INVALID, value), table.substr(0, at) + value + table.substr(at + 2)) << value;
    EXPECT_EQ(FormatText(-1, "x"), "");
}

}  // namespace
}  // namespace tessel
