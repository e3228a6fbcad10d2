// The main window on Win32: a dialog built at run time from the main
// window's table, implementing the window logic's view. What its list,
// buttons and close do is CWindowCommands'; this class only draws, binds
// the controls by number and mirrors the engine's server table in the
// report list. Run() shows it modally until the program ends.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_host.h"
#include "engine/server_table.h"
#include "resources/help_topics.h"
#include "win32/window_clock_win.h"
#include "workflow/window_commands.h"

namespace tessel {

class CTesselDlgWin final : public MainWindowView, public ServerTableObserver, public StateOwner {
public:
    explicit CTesselDlgWin(bool inkwellMode);
    ~CTesselDlgWin() override;
    CTesselDlgWin(const CTesselDlgWin&) = delete;
    CTesselDlgWin& operator=(const CTesselDlgWin&) = delete;

    // Shows the window modally; returns when it has ended.
    void Run(HINSTANCE instance);

    // MainWindowView
    int RowCount() const override;
    int FirstSelectedRow() const override;
    bool RowTexts(int row, std::string& serial, std::string& address) const override;
    void SetStatusText(const std::string& text) override;
    void EnableAddressInputs(bool enable) override;
    void EnableCloseButton(bool enable) override;
    void LockInput(bool locked) override;
    void SetWaitCursor(bool on) override;
    void StopAnimation() override;
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
    void EndDialog() override;
    void Post(std::function<void()> call) override;
    Clock& WindowClock() override { return m_clock; }

    // ServerTableObserver: from the network thread, applied in order on
    // the window's thread.
    void OnRowInserted(int index, const ServerRow& row) override;
    void OnRowChanged(int index, const ServerRow& row) override;
    void OnRowDeleted(int index) override;

    // StateOwner
    void CloseProgram() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(int id, int code);
    void OnNotify(const NMHDR& header);
    void RunPostedCalls();
    void LookUpThisComputer();
    void FillTexts();
    void SetUpServerList();
    void SetUpSystemMenu();
    void SetUpTooltips();
    void StartEngine();
    void HideInstallerControls();
    void MakeCommands();
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
    HWND OpenProgressWindow(int templateId);

    struct Row {
        std::string serial, address;
    };

    HINSTANCE m_hInstance = nullptr;
    HWND m_hWnd = nullptr;
    HWND m_hTooltips = nullptr;
    HWND m_hValidating = nullptr;
    HWND m_hStage = nullptr;
    HWND m_hNotice = nullptr;
    HFONT m_hWebFont = nullptr;
    std::vector<HFONT> m_fittedFonts;  // text fields whose lines did not all show in the dialog font
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    bool m_bInkwellMode;
    int m_waitCursors = 0;
    HostIdentity m_host;
    HostOctets m_hostOctets;
    std::atomic<int> m_nHelpContext{kHelpAtRest};
    Win32WindowClock m_clock;
    std::vector<Row> m_rows;  // the list's rows, on the window's thread

    std::mutex m_postLock;
    std::deque<std::function<void()>> m_posted;

    std::unique_ptr<EngineHost> m_pEngine;
    std::unique_ptr<CWindowCommands> m_pCommands;
};

// The About box: the icon, the program's name and version, and OK.
void ShowAboutBox(HINSTANCE instance, HWND owner);

}  // namespace tessel
