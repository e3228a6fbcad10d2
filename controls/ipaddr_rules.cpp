#include "controls/ipaddr_rules.h"

#include "engine/ipaddress.h"
#include "resources/texts.h"

namespace tessel {
namespace {

bool InByteRange(int value)
{
    return value >= 0 && value <= 255;
}

bool IsControlCharacter(int character)
{
    return character < 32 || character == 127;
}

bool IsDigit(int character)
{
    return character >= '0' && character <= '9';
}

bool IsBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

FieldCharAction ActionOfChar(int character)
{
    if (character == kCharTab) return FieldCharAction::LeaveControl;
    if (character == '.' || character == ' ') return FieldCharAction::NextField;
    if (character == kCharEnter) return FieldCharAction::Swallow;
    if (character == kCharEscape) return FieldCharAction::ToWindow;
    if (IsDigit(character) || IsControlCharacter(character)) return FieldCharAction::Edit;
    return FieldCharAction::Refuse;
}

int ParseFieldText(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int value = 0;
    // A field holds three characters; the bound keeps longer text from
    // overflowing all the same.
    for (; i < text.size() && IsDigit(text[i]) && value < 100000; ++i) value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

int ReadFieldValue(std::string_view text)
{
    if (text.empty()) return -1;
    // Text that holds no digit at all (only a sign, say) is no number.
    for (char c : text)
        if (IsDigit(c)) return ParseFieldText(text);
    return -1;
}

bool PasteAccepted(std::string_view text)
{
    for (char c : text)
        if (!IsDigit(c)) return false;
    return true;
}

std::optional<std::array<std::uint8_t, 4>> PastedAddress(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return ParseAddress(text);
}

IpAddrRules::IpAddrRules(IPAddrView& view, std::uint32_t style)
    : m_view(view), m_bNoValidate((style & IPAS_NOVALIDATE) != 0)
{}

bool IpAddrRules::OnChar(int n, int character, bool shiftDown)
{
    const bool justSteppedInto = m_nSteppedInto == n;
    m_nSteppedInto = 0;
    switch (ActionOfChar(character)) {
    case FieldCharAction::LeaveControl:
        m_view.LeaveControl(shiftDown);
        return false;
    case FieldCharAction::NextField:
        if (!justSteppedInto) NextField(n, true);
        return false;
    case FieldCharAction::Swallow:
    case FieldCharAction::ToWindow:
        return false;
    case FieldCharAction::Edit:
        m_bDigitTyped = IsDigit(character);
        return true;
    case FieldCharAction::Refuse:
        m_view.Beep();
        return false;
    }
    return false;
}

void IpAddrRules::AfterEdit(int n)
{
    const bool digit = m_bDigitTyped;
    m_bDigitTyped = false;
    if (m_view.FieldText(n).size() == static_cast<std::size_t>(kIPAddrFieldChars)) FieldFull(n, digit);
}

void IpAddrRules::FieldFull(int n, bool digitTyped)
{
    if (!m_bNoValidate) {
        const std::string text = m_view.FieldText(n);
        if (!InByteRange(ParseFieldText(text))) {
            m_view.ReportBadValue(IDS_IPADDR_INVALID, text);
            m_view.FocusField(n, true);
            return;
        }
    }
    NextField(n, true);
    // Only a digit that filled the field: a control character (Backspace,
    // Ctrl+C) in a full field moves on too, but is not followed by a dot.
    // Set after the move: the view reports the field left on the way.
    if (digitTyped && n < kIPAddrFields) m_nSteppedInto = n + 1;
}

void IpAddrRules::OnArrow(int n, bool right, int caret)
{
    m_nSteppedInto = 0;
    if (!right && caret == 0)
        PreviousField(n);
    else if (right && caret == static_cast<int>(m_view.FieldText(n).size()))
        NextField(n, false);
}

bool IpAddrRules::OnPaste(const std::string& text)
{
    m_nSteppedInto = 0;
    if (const auto address = PastedAddress(text); address && m_view.Editable()) {
        SetAddress(address->data());
        m_view.FocusField(kIPAddrFields, true);
        return false;
    }
    if (PasteAccepted(text)) return true;
    m_view.Beep();
    return false;
}

void IpAddrRules::OnFieldLeft(int n)
{
    if (m_nSteppedInto == n) m_nSteppedInto = 0;
}

void IpAddrRules::NextField(int n, bool selectAll)
{
    if (n >= 1 && n < kIPAddrFields) m_view.FocusField(n + 1, selectAll);
}

void IpAddrRules::PreviousField(int n)
{
    if (n > 1 && n <= kIPAddrFields) m_view.FocusField(n - 1, false);
}

int IpAddrRules::GetAddress(bool report, IPAddrData* address)
{
    if (!address) return 0;
    m_nSteppedInto = 0;
    address->octets = {0, 0, 0, 0};
    address->badField = 0;

    std::array<int, kIPAddrFields> values{};
    int bad = 0;
    for (int n = 1; n <= kIPAddrFields && bad == 0; ++n) {
        const int value = ReadFieldValue(m_view.FieldText(n));
        values[static_cast<std::size_t>(n - 1)] = value;
        if (!InByteRange(value)) bad = n;
    }
    if (bad == 0) {
        for (std::size_t i = 0; i < values.size(); ++i) address->octets[i] = static_cast<std::uint8_t>(values[i]);
        return 1;
    }
    address->badField = bad;
    if (report) {
        const int value = values[static_cast<std::size_t>(bad - 1)];
        // A negative value counts as missing, whatever its digits.
        if (value < 0)
            m_view.ReportBadValue(IDS_IPADDR_MISSING, {});
        else
            m_view.ReportBadValue(IDS_IPADDR_INVALID, std::to_string(value));
    }
    m_view.FocusField(bad, true);
    return 0;
}

int IpAddrRules::SetAddress(const std::uint8_t* bytes)
{
    if (!bytes) return 0;
    m_nSteppedInto = 0;
    for (int n = 1; n <= kIPAddrFields; ++n) m_view.SetFieldText(n, std::to_string(bytes[n - 1]));
    return 1;
}

}  // namespace tessel
