// The address control's rules without any toolkit: a small fake field set
// does the editing a platform edit field would (replace a selected text,
// else append up to three characters), and records what the rules ask.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "controls/ipaddr_rules.h"
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
    CIPAddrRules rules;
    std::array<std::string, 4> text{};
    int focus = 1;
    bool selected = true;
    int left = 0;
    int beeps = 0;
    std::vector<Box> boxes;
};

TEST(IPAddrRules, TypingMovesOnAtDotsAndFullFields)
{
    FakeFields f(0);
    f.Type("10.0.0.5");
    EXPECT_EQ(f.text, (std::array<std::string, 4>{"10", "0", "0", "5"}));
    // The third digit moves on by itself, so the dot after it moves again;
    // dots in field 4 do nothing.
    FakeFields g(0);
    g.Type("192.168.1.10");
    EXPECT_EQ(g.text, (std::array<std::string, 4>{"192", "", "168", "110"}));
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

TEST(IPAddrRules, PastesAndArrows)
{
    FakeFields f(0);
    for (const char* refused : {"1x", "abc", "-5", " 7", "1.2"}) EXPECT_FALSE(f.rules.OnPaste(refused)) << refused;
    EXPECT_EQ(f.beeps, 5);
    EXPECT_TRUE(f.rules.OnPaste("12345"));  // the field's limit cuts it
    EXPECT_TRUE(f.rules.OnPaste(""));

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
