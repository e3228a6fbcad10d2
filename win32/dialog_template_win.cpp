#include "win32/dialog_template_win.h"

#include <commctrl.h>

#include <string>

#include "controls/ipaddr_rules.h"

namespace tessel {
namespace {

constexpr WORD kButtonOrdinal = 0x0080;
constexpr WORD kEditOrdinal = 0x0081;
constexpr WORD kStaticOrdinal = 0x0082;
// The classes of the rows that are no standard control of the dialog
// manager. The animation is our own small player of a frame strip (see
// clip_win.h); the address control and the bar name their class in the row.
constexpr const wchar_t* kClipClass = L"TesselClip";

class Writer {
public:
    void Word(std::uint16_t w) { m_words.push_back(w); }
    void Dword(std::uint32_t d)
    {
        Word(static_cast<std::uint16_t>(d & 0xFFFF));
        Word(static_cast<std::uint16_t>(d >> 16));
    }
    void Short(int v) { Word(static_cast<std::uint16_t>(static_cast<std::int16_t>(v))); }
    void Text(const std::wstring& text)
    {
        for (wchar_t c : text) Word(static_cast<std::uint16_t>(c));
        Word(0);
    }
    void Ordinal(std::uint16_t ordinal)
    {
        Word(0xFFFF);
        Word(ordinal);
    }
    void AlignDword()
    {
        if (m_words.size() % 2) Word(0);
    }
    std::vector<std::uint16_t> Take() { return std::move(m_words); }

private:
    std::vector<std::uint16_t> m_words;
};

DWORD CommonStyle(std::uint32_t rowStyle)
{
    DWORD style = WS_CHILD;
    if (!(rowStyle & style::Hidden)) style |= WS_VISIBLE;
    if (rowStyle & style::Disabled) style |= WS_DISABLED;
    if (rowStyle & style::TabStop) style |= WS_TABSTOP;
    if (rowStyle & style::Border) style |= WS_BORDER;
    return style;
}

}  // namespace

std::wstring Widen(const char* text)
{
    if (!text || !*text) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), n);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string Narrow(const wchar_t* text)
{
    if (!text || !*text) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), n, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

bool RegisterControlClass(HINSTANCE instance, WNDPROC proc, const wchar_t* name, LPCWSTR cursor)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, cursor);
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

Win32Control Win32ControlOf(const ControlTemplate& row)
{
    const std::uint32_t s = row.style;
    DWORD style = CommonStyle(s);
    DWORD exStyle = (s & style::ClientEdge) ? WS_EX_CLIENTEDGE : 0;
    if (s & style::Transparent) exStyle |= WS_EX_TRANSPARENT;
    switch (row.kind) {
    case ControlKind::PushButton:
        style |= (s & style::DefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        if (s & style::Flat) style |= BS_FLAT;
        if (s & style::Center) style |= BS_CENTER;
        return {nullptr, kButtonOrdinal, style, exStyle};
    case ControlKind::CheckBox:
        return {nullptr, kButtonOrdinal, style | BS_AUTOCHECKBOX, exStyle};
    case ControlKind::GroupBox:
        return {nullptr, kButtonOrdinal, style | BS_GROUPBOX, exStyle};
    case ControlKind::Text:
        style |= (s & style::Center) ? SS_CENTER : SS_LEFT;
        if (s & style::NoPrefix) style |= SS_NOPREFIX;
        return {nullptr, kStaticOrdinal, style, exStyle};
    case ControlKind::Image:
        // Scaled to its row, as the Linux window draws it: at the bitmap's
        // own height the banner would cover the version text under it.
        return {nullptr, kStaticOrdinal, style | SS_BITMAP | SS_REALSIZECONTROL, exStyle};
    case ControlKind::Icon:
        return {nullptr, kStaticOrdinal, style | SS_ICON, exStyle};
    case ControlKind::GrayFrame:
        return {nullptr, kStaticOrdinal, style | SS_GRAYFRAME, exStyle};
    case ControlKind::Edit:
        if (s & style::ReadOnly) style |= ES_READONLY;
        // A multi-line field wraps its text; a single line scrolls it.
        style |= (s & style::MultiLine) ? ES_MULTILINE : ES_AUTOHSCROLL;
        return {nullptr, kEditOrdinal, style, exStyle};
    case ControlKind::ListView:
        // The list mirrors the engine's table in its order; it never sorts
        // by itself, or a row's index would no longer be the table's.
        style |= LVS_REPORT;
        if (s & style::SingleSelection) style |= LVS_SINGLESEL;
        if (s & style::ShowSelectionAlways) style |= LVS_SHOWSELALWAYS;
        if (s & style::NoSortHeader) style |= LVS_NOSORTHEADER;
        return {WC_LISTVIEWW, 0, style, exStyle};
    case ControlKind::Animation:
        return {kClipClass, 0, style, exStyle & ~static_cast<DWORD>(WS_EX_TRANSPARENT)};
    case ControlKind::Custom:
        // The address control's own style sits in the class-defined bits.
        if (s & style::NoValidate) style |= IPAS_NOVALIDATE;
        return {nullptr, 0, style, exStyle};
    }
    return {nullptr, kStaticOrdinal, style, exStyle};
}

std::vector<std::uint16_t> BuildDialogTemplate(const DialogTemplate& dialog)
{
    Writer w;
    DWORD style = DS_SETFONT | DS_MODALFRAME | DS_3DLOOK | WS_POPUP;
    DWORD exStyle = 0;
    if (dialog.style & dialogstyle::NoCaption) {
        style |= WS_BORDER;
    } else {
        style |= WS_CAPTION;
        if (dialog.style & dialogstyle::SystemMenu) style |= WS_SYSMENU;
        if (dialog.style & dialogstyle::MinimizeBox) style |= WS_MINIMIZEBOX;
    }
    if (dialog.style & dialogstyle::Centered) style |= DS_CENTER;
    if (dialog.style & dialogstyle::TaskbarButton) exStyle |= WS_EX_APPWINDOW;

    w.Word(1);       // dlgVer
    w.Word(0xFFFF);  // signature: the extended form
    w.Dword(0);      // helpID
    w.Dword(exStyle);
    w.Dword(style);
    w.Word(static_cast<std::uint16_t>(dialog.controls.size()));
    w.Short(0);
    w.Short(0);
    w.Short(dialog.cx);
    w.Short(dialog.cy);
    w.Word(0);  // no menu
    w.Word(0);  // the dialog class
    w.Text(Widen(dialog.caption));
    w.Word(static_cast<std::uint16_t>(dialog.fontPoints));
    w.Word(FW_NORMAL);
    w.Word(0);  // italic 0, charset 0 (ANSI)
    w.Text(kDialogFace);

    for (const ControlTemplate& row : dialog.controls) {
        const Win32Control control = Win32ControlOf(row);
        w.AlignDword();
        w.Dword(0);  // helpID
        w.Dword(control.exStyle);
        w.Dword(control.style);
        w.Short(row.x);
        w.Short(row.y);
        w.Short(row.cx);
        w.Short(row.cy);
        w.Dword(static_cast<std::uint32_t>(row.id == IDC_STATIC ? 0xFFFF : row.id));
        if (row.kind == ControlKind::Custom)
            w.Text(Widen(row.windowClass));
        else if (control.windowClass)
            w.Text(control.windowClass);
        else
            w.Ordinal(control.classOrdinal);
        // A picture names its resource by number; the dialog manager loads
        // it from the program's own resources.
        if ((row.kind == ControlKind::Image || row.kind == ControlKind::Icon) && row.resource)
            w.Ordinal(static_cast<std::uint16_t>(row.resource));
        else
            w.Text(Widen(row.text));
        w.Word(0);  // no creation data
    }
    return w.Take();
}

std::vector<std::uint16_t> BuildDialogTemplate(DialogTemplate dialog,
                                               const std::function<void(ControlTemplate&)>& adjust)
{
    std::vector<ControlTemplate> rows(dialog.controls.begin(), dialog.controls.end());
    for (ControlTemplate& row : rows) adjust(row);
    dialog.controls = rows;
    return BuildDialogTemplate(dialog);
}

namespace {

// Whether every line the field wrapped its text to lies inside its text area.
bool AllLinesShow(HWND field)
{
    RECT area{};
    SendMessageW(field, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
    HDC dc = GetDC(field);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(field, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(field, dc);
    const LRESULT lines = SendMessageW(field, EM_GETLINECOUNT, 0, 0);
    return metrics.tmHeight > 0 && lines * metrics.tmHeight <= area.bottom - area.top;
}

}  // namespace

HBITMAP ScalePictureToControl(HWND picture)
{
    const auto source = reinterpret_cast<HBITMAP>(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP from{};
    RECT size;
    if (!source || !GetObjectW(source, sizeof(from), &from) || !GetClientRect(picture, &size) || size.right <= 0 ||
        size.bottom <= 0)
        return nullptr;
    HDC screen = GetDC(picture);
    HDC fromDc = CreateCompatibleDC(screen);
    HDC toDc = CreateCompatibleDC(screen);
    HBITMAP made = CreateCompatibleBitmap(screen, size.right, size.bottom);
    ReleaseDC(picture, screen);
    if (made) {
        const HGDIOBJ oldFrom = SelectObject(fromDc, source);
        const HGDIOBJ oldTo = SelectObject(toDc, made);
        SetStretchBltMode(toDc, HALFTONE);
        SetBrushOrgEx(toDc, 0, 0, nullptr);
        StretchBlt(toDc, 0, 0, size.right, size.bottom, fromDc, 0, 0, from.bmWidth, from.bmHeight, SRCCOPY);
        SelectObject(fromDc, oldFrom);
        SelectObject(toDc, oldTo);
    }
    DeleteDC(fromDc);
    DeleteDC(toDc);
    if (!made) return nullptr;
    // The control loaded the bitmap from the template; it is ours to free.
    if (const auto old = reinterpret_cast<HBITMAP>(
            SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(made))))
        DeleteObject(old);
    return made;
}

HFONT FitTextToField(HWND field, int margin)
{
    if (AllLinesShow(field)) return nullptr;
    LOGFONTW face{};
    if (!GetObjectW(reinterpret_cast<HFONT>(SendMessageW(field, WM_GETFONT, 0, 0)), sizeof(face), &face))
        return nullptr;
    const LONG height = face.lfHeight < 0 ? -face.lfHeight : face.lfHeight;
    HFONT made = nullptr;
    for (LONG smaller = height - 1; smaller >= height * 2 / 3 && smaller > 0; --smaller) {
        face.lfHeight = face.lfHeight < 0 ? -smaller : smaller;
        HFONT font = CreateFontIndirectW(&face);
        if (!font) break;
        SendMessageW(field, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        // A new font brings the font's own margins back.
        SendMessageW(field, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(margin, margin));
        if (made) DeleteObject(made);
        made = font;
        if (AllLinesShow(field)) break;
    }
    return made;
}

}  // namespace tessel
