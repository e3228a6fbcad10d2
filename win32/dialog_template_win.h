// The Win32 window's dialogs from the shared dialog tables: one in-memory
// DLGTEMPLATEEX per table, made when the dialog is opened, so that the
// Win32 window and the Linux window are laid out by the same rows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "resources/dialogtemplate.h"

namespace tessel {

// The face the dialogs were drawn for; the system substitutes its own
// where it is missing.
inline constexpr const wchar_t* kDialogFace = L"MS Sans Serif";

// The window class and styles a row becomes.
struct Win32Control {
    const wchar_t* windowClass;  // a class name, or null for the ordinal below
    WORD classOrdinal;           // 0x0080 button, 0x0081 edit, 0x0082 static
    DWORD style;
    DWORD exStyle;
};
Win32Control Win32ControlOf(const ControlTemplate& row);

// DLGTEMPLATEEX with its items, DWORD-aligned as the dialog manager reads
// it; pass data() to CreateDialogIndirectParam or DialogBoxIndirectParam.
std::vector<std::uint16_t> BuildDialogTemplate(const DialogTemplate& dialog);
// The same with each row first changed by `adjust`; the table stays as it is.
std::vector<std::uint16_t> BuildDialogTemplate(DialogTemplate dialog,
                                               const std::function<void(ControlTemplate&)>& adjust);

// A read-only text field whose text wraps to more lines than the field
// shows (a face wider than the one the layout was drawn for: Wine's stand-in
// for "MS Sans Serif" is) takes the same face a pixel smaller at a time, down
// to two thirds of its height, until every line shows; its margins are kept
// at `margin`. Returns the font it made, which the caller deletes once the
// field is gone, or null when the field's own font already fits.
HFONT FitTextToField(HWND field, int margin);

// A picture control's bitmap scaled to the control's size with averaging
// (HALFTONE), in place of the system's own stretch, which drops whole rows
// and columns (a thin letter of the banner's small line went). The bitmaps
// are rendered larger than the window shows them at 96 dpi, so that they
// are only ever made smaller, at every dpi. Returns the bitmap it made,
// which the caller deletes once the control is gone, or null.
HBITMAP ScalePictureToControl(HWND picture);

// Registers a control class of our own whose windows keep one pointer of
// their own (GWLP 0); true also when it is there already.
bool RegisterControlClass(HINSTANCE instance, WNDPROC proc, const wchar_t* name, LPCWSTR cursor);

// UTF-8 text of the tables as the system's wide text.
std::wstring Widen(const char* text);
std::string Narrow(const wchar_t* text);

}  // namespace tessel
