// Dialog templates: a window's layout is data, one table per dialog with
// every control's number, kind, text, place and size in dialog units and
// its style, in creation and tab order. Each window's builder makes its
// children from the same rows; the dialog classes add only behaviour, and
// tests read the same tables. Free of any toolkit.
#pragma once

#include <cstdint>
#include <span>

namespace tessel {

// The number of a control that nothing refers to (frames, group boxes).
inline constexpr int IDC_STATIC = -1;

enum class ControlKind {
    PushButton,
    CheckBox,  // automatic: a click toggles it
    Text,      // static text
    Image,     // static picture; `resource` names the bitmap
    Icon,      // static picture; `resource` names the icon
    GroupBox,
    GrayFrame,  // a plain grey rectangle
    Edit,       // text field
    ListView,   // report view
    Animation,  // animation control; `resource` names the clip it may open
    Custom,     // made by the factory registered for `windowClass`
};

// Style bits of a control; which apply depends on its kind.
namespace style {
inline constexpr std::uint32_t TabStop = 1u << 0;
inline constexpr std::uint32_t Hidden = 1u << 1;  // created, never shown by the template
inline constexpr std::uint32_t Disabled = 1u << 2;
inline constexpr std::uint32_t Border = 1u << 3;
inline constexpr std::uint32_t ClientEdge = 1u << 4;     // sunken edge
inline constexpr std::uint32_t DefaultButton = 1u << 5;  // push button that Enter presses
inline constexpr std::uint32_t Flat = 1u << 6;
inline constexpr std::uint32_t Transparent = 1u << 7;
inline constexpr std::uint32_t Center = 1u << 8;    // text or picture centred
inline constexpr std::uint32_t NoPrefix = 1u << 9;  // "&" is shown, not a mnemonic
inline constexpr std::uint32_t ReadOnly = 1u << 10;
inline constexpr std::uint32_t MultiLine = 1u << 11;
inline constexpr std::uint32_t SingleSelection = 1u << 12;
inline constexpr std::uint32_t ShowSelectionAlways = 1u << 13;  // also without the focus
inline constexpr std::uint32_t SortAscending = 1u << 14;
inline constexpr std::uint32_t NoSortHeader = 1u << 15;  // headers do not react to clicks
// The address control's own style: a full field moves on unchecked, a bad
// value is told when the address is read.
inline constexpr std::uint32_t NoValidate = 1u << 16;
}  // namespace style

// Style bits of the dialog itself.
namespace dialogstyle {
inline constexpr std::uint32_t SystemMenu = 1u << 0;
inline constexpr std::uint32_t MinimizeBox = 1u << 1;
inline constexpr std::uint32_t Centered = 1u << 2;       // centred on the screen when shown
inline constexpr std::uint32_t NoCaption = 1u << 3;      // no title bar at all
inline constexpr std::uint32_t TaskbarButton = 1u << 4;  // a top-level window of its own
}  // namespace dialogstyle

struct ControlTemplate {
    int id;  // IDC_STATIC for a control that nothing names
    ControlKind kind;
    const char* text;
    int x, y, cx, cy;  // dialog units
    std::uint32_t style;
    int resource;             // Image, Icon, Animation: the picture's number; else 0
    const char* windowClass;  // Custom: the registered class; else null
};

struct DialogTemplate {
    int id;
    const char* caption;
    int fontPoints;
    int cx, cy;  // dialog units
    std::uint32_t style;
    std::span<const ControlTemplate> controls;
};

}  // namespace tessel
