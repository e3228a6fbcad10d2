#include "win32/mainwindowview_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include "controls/ipaddr_rules.h"
#include "resources/dialogs.h"
#include "resources/resource.h"
#include "win32/clip_win.h"
#include "win32/dialog_template_win.h"
#include "win32/ipaddr_win.h"
#include "win32/messagebox_win.h"
#include "win32/registry_win.h"

namespace tessel {
namespace {

constexpr UINT_PTR kShellSuccess = 32;  // ShellExecute's results above this are success

// The progress windows take nothing from the user: none can be cancelled.
INT_PTR CALLBACK ProgressDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

}  // namespace

Win32MainWindowView::Win32MainWindowView()
    : m_clock(RealClock()), m_list([this](std::function<void()> call) { Post(std::move(call)); })
{}

void Win32MainWindowView::SetUp(HINSTANCE instance, HWND dialog)
{
    m_hInstance = instance;
    m_hWnd = dialog;
    m_list.SetUp(Item(IDC_SERVER_LIST));
}

void Win32MainWindowView::Post(std::function<void()> call)
{
    {
        std::lock_guard<std::mutex> lock(m_postLock);
        m_posted.push_back(std::move(call));
    }
    if (m_hWnd) PostMessageW(m_hWnd, WM_TESSEL_POSTED, 0, 0);
}

void Win32MainWindowView::RunPostedCalls()
{
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> lock(m_postLock);
            if (m_posted.empty()) return;
            call = std::move(m_posted.front());
            m_posted.pop_front();
        }
        call();
    }
}

int Win32MainWindowView::RowCount() const
{
    return m_list.RowCount();
}

int Win32MainWindowView::FirstSelectedRow() const
{
    return m_list.FirstSelectedRow();
}

bool Win32MainWindowView::RowTexts(int row, std::string& serial, std::string& address) const
{
    return m_list.RowTexts(row, serial, address);
}

void Win32MainWindowView::FollowServerTable(ServerTable* table)
{
    m_list.Follow(table);
}

void Win32MainWindowView::FocusServerList()
{
    SetFocus(Item(IDC_SERVER_LIST));
}

void Win32MainWindowView::SetStatusText(const std::string& text)
{
    SetDlgItemTextW(m_hWnd, IDC_STATUS, Widen(text.c_str()).c_str());
}

void Win32MainWindowView::EnableAddressInputs(bool enable)
{
    for (int id : kAddressInputIds) EnableWindow(Item(id), enable);
}

void Win32MainWindowView::EnableCloseButton(bool enable)
{
    EnableWindow(Item(IDC_CLOSE), enable);
}

void Win32MainWindowView::LockInput(bool)
{
    // Nothing to do: the window stays enabled, as the Linux window does.
    // A command reaches the user only through the window clock, which drops
    // every key and click while it waits, and through boxes, which disable
    // the window themselves for as long as they show. A disabled window
    // would refuse the caret the command gives back after a box, and the
    // system would activate another program's window when the box goes.
}

void Win32MainWindowView::SetWaitCursor(bool on)
{
    if (on)
        ++m_waitCursors;
    else if (m_waitCursors > 0)
        --m_waitCursors;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(m_waitCursors > 0 ? IDC_WAIT : IDC_ARROW)));
}

void Win32MainWindowView::StartAnimation()
{
    if (ClipOpen(Item(IDC_ANIMATION), IDR_ANIMATION, kAnimationFrames))
        ClipPlay(Item(IDC_ANIMATION), kAnimationFirstFrame, kAnimationLastFrame, kAnimationFrameMs);
}

void Win32MainWindowView::StopAnimation()
{
    ClipStop(Item(IDC_ANIMATION));
    ClipClose(Item(IDC_ANIMATION));
}

void Win32MainWindowView::SetSwitches(bool logfile, bool onlyMerrow)
{
    CheckDlgButton(m_hWnd, IDC_LOGFILE, logfile ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(m_hWnd, IDC_ONLY_MERROW, onlyMerrow ? BST_CHECKED : BST_UNCHECKED);
}

void Win32MainWindowView::HideInstallerControls()
{
    for (int id : {IDC_MERROW_HOMEPAGE, IDC_HOMEPAGE_SELECTED, IDC_LOGFILE, IDC_ONLY_MERROW}) {
        EnableWindow(Item(id), FALSE);
        ShowWindow(Item(id), SW_HIDE);
    }
}

void Win32MainWindowView::SetAddress(const Ipv4Bytes& bytes)
{
    SendMessageW(Item(IDC_IPADDRESS), IPAM_SETADDRESS, 0, reinterpret_cast<LPARAM>(bytes.data()));
}

std::optional<Ipv4Bytes> Win32MainWindowView::ReadAddress()
{
    IPAddrData data;
    if (SendMessageW(Item(IDC_IPADDRESS), IPAM_GETADDRESS, 1, reinterpret_cast<LPARAM>(&data)) == 0)
        return std::nullopt;
    return data.octets;
}

void Win32MainWindowView::FocusAddressField(int field)
{
    HWND edit = IPAddrField(Item(IDC_IPADDRESS), field);
    if (!edit) return;
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
}

MsgAnswer Win32MainWindowView::ShowBox(const BoxStyle& box)
{
    Win32Box request;
    request.owner = m_hWnd;
    request.text = TextOf(box.id);
    request.buttons = box.buttons;
    request.icon = box.icon;
    request.defaultButton = box.defaultButton;
    return ShowWin32Box(request);
}

void Win32MainWindowView::ShowTextBox(const std::string& text, MsgIcon icon)
{
    Win32Box request;
    request.owner = m_hWnd;
    request.text = text;
    request.icon = icon;
    ShowWin32Box(request);
}

HWND Win32MainWindowView::OpenProgressWindow(int templateId)
{
    const DialogTemplate& tmpl = templateId == IDD_VALIDATING ? ValidatingTemplate()
                                 : templateId == IDD_STAGE    ? StageTemplate()
                                                              : ShutdownNoticeTemplate();
    const std::vector<std::uint16_t> data = BuildDialogTemplate(tmpl);
    HWND window = CreateDialogIndirectParamW(m_hInstance, reinterpret_cast<LPCDLGTEMPLATEW>(data.data()), m_hWnd,
                                             ProgressDialogProc, 0);
    if (!window) return nullptr;
    ShowWindow(window, SW_SHOWNA);
    UpdateWindow(window);
    return window;
}

void Win32MainWindowView::OpenValidating()
{
    m_hValidating = OpenProgressWindow(IDD_VALIDATING);
}

void Win32MainWindowView::CloseValidating()
{
    if (m_hValidating) DestroyWindow(m_hValidating);
    m_hValidating = nullptr;
}

void Win32MainWindowView::OpenStage(int textId)
{
    m_hStage = OpenProgressWindow(IDD_STAGE);
    SetStageText(textId);
}

void Win32MainWindowView::SetStageText(int textId)
{
    if (m_hStage) SetDlgItemTextW(m_hStage, IDC_STAGE_TEXT, Widen(TextOf(textId)).c_str());
}

void Win32MainWindowView::SetBar(int position)
{
    if (m_hStage) SendDlgItemMessageW(m_hStage, IDC_STAGE_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32MainWindowView::CloseStage()
{
    if (m_hStage) DestroyWindow(m_hStage);
    m_hStage = nullptr;
}

void Win32MainWindowView::OpenShutdownNotice()
{
    m_hNotice = OpenProgressWindow(IDD_SHUTDOWN);
}

void Win32MainWindowView::CloseShutdownNotice()
{
    if (m_hNotice) DestroyWindow(m_hNotice);
    m_hNotice = nullptr;
}

void Win32MainWindowView::Repaint()
{
    for (HWND window : {m_hWnd, m_hStage, m_hValidating, m_hNotice})
        if (window) RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

bool Win32MainWindowView::OpenUrl(const std::string& url)
{
    const auto result = reinterpret_cast<UINT_PTR>(
        ShellExecuteW(m_hWnd, L"open", Widen(url.c_str()).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > kShellSuccess;
}

void Win32MainWindowView::RegisterNewServer(const std::string& address)
{
    WriteNewServer(address);
}

std::optional<std::string> Win32MainWindowView::ReadTesselPath()
{
    return tessel::ReadTesselPath();
}

void Win32MainWindowView::EndDialog()
{
    LockInput(false);
    if (m_hWnd) ::EndDialog(m_hWnd, IDCANCEL);
}

}  // namespace tessel
