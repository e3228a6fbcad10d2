#include "win32/tesseldlg_win.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

#include "controls/ipaddr_rules.h"
#include "resources/dialogs.h"
#include "resources/resource.h"
#include "win32/dialog_template_win.h"
#include "win32/ipaddr_win.h"
#include "win32/messagebox_win.h"

namespace tessel {
namespace {

// The timer that starts the engine once the window is up.
constexpr UINT_PTR kStartTimer = 1;

INT_PTR CALLBACK PlainDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDC_ABOUT_OK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

ListKey ListKeyOf(WORD key)
{
    switch (key) {
    case VK_HOME:
        return ListKey::Home;
    case VK_END:
        return ListKey::End;
    case VK_UP:
        return ListKey::Up;
    case VK_DOWN:
        return ListKey::Down;
    default:
        return ListKey::Other;
    }
}

}  // namespace

void ShowAboutBox(HINSTANCE instance, HWND owner)
{
    const std::vector<std::uint16_t> about = BuildDialogTemplate(AboutBoxTemplate());
    DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(about.data()), owner, PlainDialogProc, 0);
}

CTesselDlgWin::CTesselDlgWin(bool inkwellMode) : m_window(m_view, inkwellMode)
{}

CTesselDlgWin::~CTesselDlgWin()
{
    SetWin32HelpContextSource(nullptr);
    if (m_hWebFont) DeleteObject(m_hWebFont);
    for (HFONT font : m_fittedFonts) DeleteObject(font);
    for (HBITMAP picture : m_pictures) DeleteObject(picture);
}

std::vector<std::uint16_t> BuildMainWindowTemplate()
{
    // Step 2's controls are made disabled, as the start state shows them:
    // under Wine each enable change before the window is shown is a
    // round of messages that delays it (the address control has five
    // windows). The start state still disables them, for nothing.
    return BuildDialogTemplate(MainDialogTemplate(), [](ControlTemplate& control) {
        if (std::find(std::begin(kAddressInputIds), std::end(kAddressInputIds), control.id) !=
            std::end(kAddressInputIds))
            control.style |= style::Disabled;
    });
}

void CTesselDlgWin::Run(HINSTANCE instance)
{
    m_hInstance = instance;
    const std::vector<std::uint16_t> tmpl = BuildMainWindowTemplate();
    DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), nullptr, DialogProc,
                            reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    m_view.Detach();
}

INT_PTR CALLBACK CTesselDlgWin::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        auto* self = reinterpret_cast<CTesselDlgWin*>(lParam);
        self->m_hWnd = hwnd;
        self->OnInitDialog();
        return TRUE;  // the focus to the first control: the list
    }
    auto* self = reinterpret_cast<CTesselDlgWin*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CTesselDlgWin::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY:
        OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        return FALSE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            ShowAboutBox(m_hInstance, m_hWnd);
            return TRUE;
        }
        return FALSE;
    case WM_HELP:
        // F1 in the window; in a box the box's own context is opened.
        if (!Win32BoxShowing()) ShowWin32Help(m_window.Help().Current());
        return TRUE;
    case WM_SETCURSOR:
        if (m_view.WaitCursorShown()) {
            SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_SHOWWINDOW:
        // The dialog is shown once its queue is empty after WM_INITDIALOG; a
        // timer set before could come first and put the engine's start
        // before the window's.
        if (wParam && !m_startTimerSet) {
            m_startTimerSet = true;
            SetTimer(m_hWnd, kStartTimer, USER_TIMER_MINIMUM, nullptr);
        }
        return FALSE;
    case WM_TIMER:
        if (wParam != kStartTimer) return FALSE;
        // The window has been shown and drawn (a timer comes only once
        // nothing else waits, paint included): now the tips and the engine.
        KillTimer(m_hWnd, kStartTimer);
        // A wait of no time hands what the window asked of the display to
        // it first: Wine sends a thread's window requests (the map, the
        // first picture) to the X server only when the thread waits, and a
        // timer that is already due is taken without one.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
        SetUpTooltips();
        m_window.Start();
        return TRUE;
    case WM_TESSEL_POSTED:
        m_view.RunPostedCalls();
        return TRUE;
    default:
        return FALSE;
    }
}

void CTesselDlgWin::OnInitDialog()
{
    m_hIcon = static_cast<HICON>(
        LoadImageW(m_hInstance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    m_hSmallIcon = static_cast<HICON>(
        LoadImageW(m_hInstance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    SendMessageW(m_hWnd, DM_SETDEFID, IDC_SET_IP, 0);
    SetUpSystemMenu();
    SetWin32HelpContextSource(&m_window.Help());
    FillTexts();
    for (int id : {IDC_BANNER, IDC_STEP1_MARKER, IDC_STEP2_MARKER, IDC_LOGO})
        if (HBITMAP picture = ScalePictureToControl(Item(id))) m_pictures.push_back(picture);
    // The maker's host name is a small caption under the logo.
    HDC dc = GetDC(m_hWnd);
    m_hWebFont = CreateFontW(-MulDiv(kWebButtonFontPoints, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0, 0,
                             0, DEFAULT_CHARSET, 0, 0, 0, 0, kDialogFace);
    ReleaseDC(m_hWnd, dc);
    SendMessageW(Item(IDC_MERROW_HOMEPAGE), WM_SETFONT, reinterpret_cast<WPARAM>(m_hWebFont), TRUE);
    m_view.SetUp(m_hInstance, m_hWnd);
    // What the first paint shows; the engine starts once the window is
    // shown and drawn (it shows nothing before its first server or note).
    m_window.ShowStartState();
}

void CTesselDlgWin::SetUpSystemMenu()
{
    HMENU menu = GetSystemMenu(m_hWnd, FALSE);
    if (!menu) return;
    // The window keeps its size: no size or maximise item.
    DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    const std::wstring about = Widen(TextOf(IDS_ABOUTBOX));
    if (about.empty()) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
}

void CTesselDlgWin::SetUpTooltips()
{
    m_hTooltips = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, m_hInstance, nullptr);
    if (!m_hTooltips) return;
    auto add = [this](HWND control, const char* text) {
        std::wstring wide = Widen(text);
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = m_hWnd;
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.lpszText = wide.data();
        SendMessageW(m_hTooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    };
    // A disabled control gets no mouse input: the system gives it to the
    // dialog under it. So each control is also a rectangle of the dialog,
    // which shows the tip while the control is disabled (Set IP, the
    // address control and the step-2 text before a server is picked).
    auto addArea = [this](HWND control, int id, const char* text) {
        std::wstring wide = Widen(text);
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_SUBCLASS;
        tool.hwnd = m_hWnd;
        tool.uId = static_cast<UINT_PTR>(id);
        GetWindowRect(control, &tool.rect);
        MapWindowPoints(HWND_DESKTOP, m_hWnd, reinterpret_cast<POINT*>(&tool.rect), 2);
        tool.lpszText = wide.data();
        SendMessageW(m_hTooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    };
    for (const ControlTooltip& tip : MainDialogTooltips()) {
        HWND control = Item(tip.id);
        if (!control) continue;
        add(control, tip.text);
        addArea(control, tip.id, tip.text);
        // The address control's fields cover it: each carries its tip.
        if (tip.id == IDC_IPADDRESS)
            for (int n = 1; n <= kIPAddrFields; ++n) add(IPAddrField(control, n), tip.text);
    }
}

void CTesselDlgWin::FillTexts()
{
    // The read-only fields' texts were laid out for narrow margins: with
    // the font's own, "Continuously" breaks and the hint loses its last line.
    for (int id : {IDC_STEP1_TEXT, IDC_STEP2_TEXT, IDC_LISTENING, IDC_RESTART_HINT})
        SendDlgItemMessageW(m_hWnd, id, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(1, 1));
    SetDlgItemTextW(m_hWnd, IDC_STEP1_TEXT, Widen(TextOf(IDS_TEXT_STEP1)).c_str());
    SetDlgItemTextW(m_hWnd, IDC_STEP2_TEXT, Widen(TextOf(IDS_TEXT_STEP2)).c_str());
    SetDlgItemTextW(m_hWnd, IDC_STATUS, Widen(TextOf(IDS_NO_SERVER_SELECTED)).c_str());
    SetDlgItemTextW(m_hWnd, IDC_LISTENING, Widen(TextOf(IDS_TEXT_LISTENING)).c_str());
    SetDlgItemTextW(m_hWnd, IDC_RESTART_HINT, Widen(TextOf(IDS_TEXT_RESTART_HINT)).c_str());
    for (int id : {IDC_STEP1_TEXT, IDC_STEP2_TEXT, IDC_LISTENING, IDC_RESTART_HINT})
        if (HFONT font = FitTextToField(Item(id), 1)) m_fittedFonts.push_back(font);
}

void CTesselDlgWin::OnCommand(int id, int code)
{
    WindowCommands* commands = m_window.Commands();
    if (!commands) return;
    switch (id) {
    case IDC_SET_IP:
        commands->OnSetIpAddress();
        break;
    case IDC_HOMEPAGE_SELECTED:
        commands->OnHomePageOfSelected();
        break;
    case IDC_MERROW_HOMEPAGE:
        commands->OnMerrowHomePage();
        break;
    case IDC_CLOSE:
        commands->OnClose();
        break;
    case ID_HELP:
        ShowWin32Help(m_window.Help().Current());
        break;
    case IDC_LOGFILE:
        if (code == BN_CLICKED) m_window.OnLogfileSwitch(Checked(IDC_LOGFILE));
        break;
    case IDC_ONLY_MERROW:
        if (code == BN_CLICKED) m_window.OnOnlyMerrowSwitch(Checked(IDC_ONLY_MERROW));
        break;
    default:
        break;
    }
}

void CTesselDlgWin::OnNotify(const NMHDR& header)
{
    WindowCommands* commands = m_window.Commands();
    if (!commands || header.idFrom != static_cast<UINT_PTR>(IDC_SERVER_LIST)) return;
    if (header.code == NM_CLICK)
        commands->OnServerListClick();
    else if (header.code == LVN_KEYDOWN)
        commands->OnServerListKeyDown(ListKeyOf(reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey));
}

}  // namespace tessel
