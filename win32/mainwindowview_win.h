// The Win32 main window as its logic sees it: the list (through its
// mirror of the server table), the texts, the address control, boxes, the
// progress windows, the browser, the posted-call queue and the window
// clock, over the controls of the dialog CTesselDlgWin built from its
// template.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

#include "resources/resource.h"
#include "win32/serverlist_win.h"
#include "win32/window_clock_win.h"
#include "workflow/main_window_view.h"

namespace tessel {

// Tells the window to run the calls posted to it.
inline constexpr UINT WM_TESSEL_POSTED = WM_APP + 1;

// What step 2 takes: its text, the address control and Set IP.
inline constexpr int kAddressInputIds[] = {IDC_STEP2_TEXT, IDC_IPADDRESS, IDC_SET_IP};

class Win32MainWindowView final : public MainWindowView {
public:
    Win32MainWindowView();
    Win32MainWindowView(const Win32MainWindowView&) = delete;
    Win32MainWindowView& operator=(const Win32MainWindowView&) = delete;

    // The dialog, once it exists; the list takes its columns.
    void SetUp(HINSTANCE instance, HWND dialog);
    // The dialog has ended: nothing is posted to it any more.
    void Detach() { m_hWnd = nullptr; }
    // WM_TESSEL_POSTED: runs what was posted, in order.
    void RunPostedCalls();
    // While a wait cursor is asked for, the window shows it.
    bool WaitCursorShown() const { return m_waitCursors > 0; }

    int RowCount() const override;
    int FirstSelectedRow() const override;
    bool RowTexts(int row, std::string& serial, std::string& address) const override;
    void FollowServerTable(ServerTable* table) override;
    void FocusServerList() override;
    void SetStatusText(const std::string& text) override;
    void EnableAddressInputs(bool enable) override;
    void EnableCloseButton(bool enable) override;
    void LockInput(bool locked) override;
    void SetWaitCursor(bool on) override;
    void StartAnimation() override;
    void StopAnimation() override;
    void SetSwitches(bool logfile, bool onlyMerrow) override;
    void HideInstallerControls() override;
    void SetAddress(const Ipv4Bytes& bytes) override;
    std::optional<Ipv4Bytes> ReadAddress() override;
    void FocusAddressField(int field) override;
    MsgAnswer ShowBox(const BoxStyle& box) override;
    void ShowTextBox(const std::string& text, MsgIcon icon) override;
    void OpenValidating() override;
    void CloseValidating() override;
    void OpenStage(int textId) override;
    void SetStageText(int textId) override;
    void SetBar(int position) override;
    void CloseStage() override;
    void OpenShutdownNotice() override;
    void CloseShutdownNotice() override;
    void Repaint() override;
    bool OpenUrl(const std::string& url) override;
    void RegisterNewServer(const std::string& address) override;
    std::optional<std::string> ReadTesselPath() override;
    void EndDialog() override;
    void Post(std::function<void()> call) override;
    Clock& WindowClock() override { return m_clock; }

private:
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
    HWND OpenProgressWindow(int templateId);

    HINSTANCE m_hInstance = nullptr;
    HWND m_hWnd = nullptr;
    HWND m_hValidating = nullptr;
    HWND m_hStage = nullptr;
    HWND m_hNotice = nullptr;
    int m_waitCursors = 0;
    Win32WindowClock m_clock;
    ServerListMirror m_list;

    std::mutex m_postLock;
    std::deque<std::function<void()>> m_posted;
};

}  // namespace tessel
