// The main window on Win32: a dialog built at run time from the main
// window's table. As in the Qt window, the dialog only draws and binds the
// controls by number; its view (Win32MainWindowView) is what the window
// logic sees, with the list's mirror of the server table, and the logic
// (MainWindowLogic: the start-up, the engine, what the list, buttons and close
// do) is workflow/'s. Run() shows it modally until the program ends.
#pragma once

#include <windows.h>

#include <vector>

#include "win32/mainwindowview_win.h"
#include "workflow/main_window.h"

namespace tessel {

class CTesselDlgWin final {
public:
    explicit CTesselDlgWin(bool inkwellMode);
    ~CTesselDlgWin();
    CTesselDlgWin(const CTesselDlgWin&) = delete;
    CTesselDlgWin& operator=(const CTesselDlgWin&) = delete;

    // Shows the window modally; returns when it has ended.
    void Run(HINSTANCE instance);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(int id, int code);
    void OnNotify(const NMHDR& header);
    void FillTexts();
    void SetUpSystemMenu();
    void SetUpTooltips();
    bool Checked(int id) const { return IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED; }
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

    HINSTANCE m_hInstance = nullptr;
    HWND m_hWnd = nullptr;
    HWND m_hTooltips = nullptr;
    // The start timer is set when the window is first shown.
    bool m_startTimerSet = false;
    HFONT m_hWebFont = nullptr;
    std::vector<HFONT> m_fittedFonts;  // text fields whose lines did not all show in the dialog font
    std::vector<HBITMAP> m_pictures;   // the pictures scaled to their controls
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    Win32MainWindowView m_view;
    // The window's logic: goes before the view it uses.
    MainWindowLogic m_window;
};

// The About box: the icon, the program's name and version, and OK.
void ShowAboutBox(HINSTANCE instance, HWND owner);

// The main window's template as the window shows it.
std::vector<std::uint16_t> BuildMainWindowTemplate();

}  // namespace tessel
