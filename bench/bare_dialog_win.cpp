// The reference for tessel.exe's start-up under Wine: a bare dialog of the
// same size, with a report list and a button, from an in-memory template,
// shown modally. bench/wine_window_startup.py starts both the same way.
// With "controls" it shows the main window's own template instead (our two
// control classes and the pictures as plain texts, no procedure of ours):
// what the window's thirty controls cost by themselves.
#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "resources/dialogs.h"
#include "win32/dialog_template_win.h"

namespace {

void Text(std::vector<std::uint16_t>& w, const wchar_t* text)
{
    for (; *text; ++text) w.push_back(static_cast<std::uint16_t>(*text));
    w.push_back(0);
}

void Item(std::vector<std::uint16_t>& w, DWORD style, short x, short y, short cx, short cy, WORD id, const wchar_t* cls,
          const wchar_t* text)
{
    if (w.size() % 2) w.push_back(0);
    for (DWORD d : {DWORD{0}, DWORD{0}, style}) {
        w.push_back(static_cast<std::uint16_t>(d & 0xFFFF));
        w.push_back(static_cast<std::uint16_t>(d >> 16));
    }
    for (short v : {x, y, cx, cy}) w.push_back(static_cast<std::uint16_t>(v));
    w.push_back(id);
    w.push_back(0);
    Text(w, cls);
    Text(w, text);
    w.push_back(0);
}

INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(hwnd, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

std::vector<std::uint16_t> MainWindowControls()
{
    using namespace tessel;
    DialogTemplate dialog = MainDialogTemplate();
    dialog.caption = "Bare dialog";
    return BuildDialogTemplate(dialog, [](ControlTemplate& item) {
        if (item.windowClass || item.kind == ControlKind::Animation || item.kind == ControlKind::Image) {
            item.kind = ControlKind::Text;
            item.windowClass = nullptr;
            item.resource = 0;
        }
    });
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    if (std::strstr(commandLine, "controls")) {
        const std::vector<std::uint16_t> w = MainWindowControls();
        DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(w.data()), nullptr, Proc, 0);
        return 0;
    }
    std::vector<std::uint16_t> w = {1, 0xFFFF, 0, 0, 0, 0};
    const DWORD style = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    w.push_back(static_cast<std::uint16_t>(style & 0xFFFF));
    w.push_back(static_cast<std::uint16_t>(style >> 16));
    for (std::uint16_t v : {2, 0, 0, 316, 222, 0, 0}) w.push_back(v);
    Text(w, L"Bare dialog");
    w.push_back(10);
    w.push_back(FW_NORMAL);
    w.push_back(0);
    Text(w, L"MS Sans Serif");
    Item(w, WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT, 89, 38, 150, 70, 1024, WC_LISTVIEWW, L"");
    Item(w, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 260, 200, 51, 14, IDCANCEL, L"BUTTON", L"&Close");
    DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(w.data()), nullptr, Proc, 0);
    return 0;
}
