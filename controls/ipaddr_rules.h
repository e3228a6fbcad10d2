// The rules of the IP address entry control, free of any toolkit: what each
// typed character and arrow key does in one of the four fields, the step
// that follows a field filling up in either validation mode, reading and
// checking the address, and filling it in. Each window's control is a thin
// view over these rules: it keeps four platform edit fields, lets them do
// the editing itself (caret, selection, the three-character limit) and asks
// the rules for everything else.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessel {

// Style bit: a field that becomes full is not range-tested before the focus
// moves on; a bad value is reported only when the address is read.
inline constexpr std::uint32_t IPAS_NOVALIDATE = 0x0001;

// The parent's operations on the control, by their fixed numbers.
enum IPAddrMessage : unsigned {
    IPAM_GETADDRESS = 0x0400,   // wParam: report a bad field in a box; lParam: IPAddrData*
    IPAM_SETADDRESS = 0x0401,   // lParam: four bytes, field 1 first
    IPAM_SETREADONLY = 0x0402,  // wParam: nonzero read-only, 0 editable
};

struct IPAddrData {
    std::array<std::uint8_t, 4> octets{};  // fields 1 to 4; all 0 when not valid
    std::int32_t badField = 0;             // 0 when valid, else the first bad field (1 to 4)
};

inline constexpr int kIPAddrFields = 4;
inline constexpr int kIPAddrFieldChars = 3;

// Character codes of the keys the rules name.
inline constexpr int kCharTab = 9;
inline constexpr int kCharEnter = 13;
inline constexpr int kCharEscape = 27;
inline constexpr int kCharPaste = 22;  // Ctrl+V

// What a field does with a typed character, in the order the tests are made.
enum class FieldCharAction {
    LeaveControl,  // Tab: the window's next tab stop (the previous with Shift)
    NextField,     // "." and space: the next field, its text selected
    Swallow,       // Enter: nothing at all, not even the default button
    ToWindow,      // Escape: the window's key, not the field's
    Edit,          // a digit or a control character: the field's own editing
    Refuse,        // anything else: not inserted, and a beep
};
FieldCharAction ActionOfChar(int character);

// A field's text as a number: leading blanks skipped, an optional sign, the
// decimal digits up to the first other character, 0 when there are none.
int ParseFieldText(std::string_view text);
// A field's value when the address is read: -1 for an empty field or text
// that is not a number; otherwise as ParseFieldText.
int ReadFieldValue(std::string_view text);
// Text that may be pasted into a field: only what typing could put there,
// decimal digits (the field's length limit cuts it as it cuts typing).
bool PasteAccepted(std::string_view text);
// Pasted text that is a whole dotted address ("10.77.0.99", blanks and line
// ends round it allowed, as a copy from a mail or a sheet brings them):
// the four bytes; otherwise nothing.
std::optional<std::array<std::uint8_t, 4>> PastedAddress(std::string_view text);

// The control as the rules see it; field numbers run from 1 to 4.
class IPAddrView {
public:
    virtual ~IPAddrView() = default;
    virtual std::string FieldText(int n) const = 0;
    // Text put in from outside: the caret at its start.
    virtual void SetFieldText(int n, const std::string& text) = 0;
    // The focus to field n; with `selectAll` its whole text selected and
    // the caret brought into view, otherwise its selection as it was.
    virtual void FocusField(int n, bool selectAll) = 0;
    // The focus to the window's next tab stop after the control.
    virtual void LeaveControl(bool backwards) = 0;
    // A box owned by the control: caption 32774, the exclamation mark, OK;
    // the text `textId` with "%1" replaced by `value`.
    virtual void ReportBadValue(int textId, const std::string& value) = 0;
    virtual void Beep() = 0;
    // False while the fields are read-only.
    virtual bool Editable() const = 0;
};

class IpAddrRules {
public:
    IpAddrRules(IPAddrView& view, std::uint32_t style);

    bool NoValidate() const { return m_bNoValidate; }

    // A character typed in field n. True when the field's own editing must
    // take it; the view then calls AfterEdit(n).
    //
    // A "." or blank typed in a field that the field-full step has just
    // moved to after a digit filled the field before, with nothing else
    // typed in between, is the separator the user types after every number
    // and does nothing: the step already moved on. So "192.168.1.50" typed over a proposal is 192.168.1.50,
    // not 192 with the proposal's second number kept and the rest a field
    // late.
    bool OnChar(int n, int character, bool shiftDown);
    // After the field's own editing of a character: a field that now holds
    // three characters runs the field-full step.
    void AfterEdit(int n);
    // Left with the caret at 0 goes to the previous field, Right with the
    // caret after the last character to the next one, their selections as
    // they were. The key is the field's own as well, whether or not the
    // focus moves.
    void OnArrow(int n, bool right, int caret);
    // Text about to be pasted into a field: true when the field may take
    // it; a refusal beeps, as a typed letter does. A whole dotted address
    // fills the four fields instead (when they are editable), and the focus
    // goes to field 4 with its text selected.
    bool OnPaste(const std::string& text);
    // The view tells when field n has lost the focus: a field the step
    // moved to and that the user then left is no longer just stepped into.
    void OnFieldLeft(int n);

    // Reads and checks the four fields. 1 and the octets when all four hold
    // 0 to 255; otherwise 0, the first bad field in `badField`, with
    // `report` a box, and the focus on that field with its text selected.
    // A null `address` is refused with 0 and nothing else.
    int GetAddress(bool report, IPAddrData* address);
    // Shows the four bytes, field 1 first. Null is refused with 0.
    int SetAddress(const std::uint8_t* bytes);

    void NextField(int n, bool selectAll);
    void PreviousField(int n);

private:
    void FieldFull(int n, bool digitTyped);

    IPAddrView& m_view;
    bool m_bNoValidate;
    // The field the field-full step has just moved to while nothing was
    // typed there yet; 0 for none.
    int m_nSteppedInto = 0;
    // The character the field is editing is a digit.
    bool m_bDigitTyped = false;
};

}  // namespace tessel
