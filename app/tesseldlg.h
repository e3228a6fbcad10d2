// The main window in Qt: the two steps of the job (pick a server from the
// list, type its address and set it), laid out by its template. It owns the
// controls, the help context and the engine, which it starts when it
// initialises. What its list, buttons and close do is the window logic's
// (CWindowCommands), which sees the window through CMainWindowView.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/engine_host.h"
#include "engine/ipaddress.h"
#include "engine/shared_state.h"
#include "resources/help_topics.h"
#include "workflow/window_commands.h"

class QCheckBox;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTreeView;

namespace tessel {

class CAnimateCtrl;
class CDataExchange;
class CIPAddrCtl;
class CServerListModel;
class CMainWindowView;
class SystemCommands;
struct ProbeRequest;

// What the window takes from the computer it runs on; tests give their own.
struct DialogEnvironment {
    std::optional<std::string> hostName;     // unset: this computer's
    std::optional<std::string> hostAddress;  // unset: this computer's first IPv4 address
    Clock* clock = nullptr;                  // null: the real clock
    // Unset: the real socket on port 67 and the real assignment procedure.
    std::function<std::unique_ptr<BootpChannel>()> makeChannel;
    std::function<std::unique_ptr<AssignmentProcedure>()> makeProcedure;
    // Unset: the system's hidden commands and the real ICMP probe of the
    // Set-IP command.
    SystemCommands* commands = nullptr;
    std::function<bool(std::shared_ptr<ProbeRequest>)> startIcmpProbe;
};

// System-menu commands.
inline constexpr int SC_RESTORE = 0xF120;
inline constexpr int SC_MOVE = 0xF010;
inline constexpr int SC_MINIMIZE = 0xF020;
inline constexpr int SC_CLOSE = 0xF060;
inline constexpr int SC_SIZE = 0xF000;
inline constexpr int SC_MAXIMIZE = 0xF030;

class CTesselDlg : public QDialog, public StateOwner {
    Q_OBJECT
public:
    explicit CTesselDlg(bool inkwellMode, QWidget* parent = nullptr);
    CTesselDlg(bool inkwellMode, DialogEnvironment environment, QWidget* parent = nullptr);
    ~CTesselDlg() override;

    // Moves the address between m_address and control 1025; false when a
    // saving pass refused a field.
    bool UpdateData(bool saveAndValidate);

    // The engine; null until the window has initialised.
    EngineHost* Engine() const { return m_pEngine.get(); }
    CServerListModel& ServerListModel() const { return *m_pServerListModel; }
    QMenu* SystemMenu() const { return m_pSystemMenu; }
    std::atomic<int>& HelpContext() { return m_nHelpContext; }
    bool InkwellMode() const { return m_bInkwellMode; }
    const std::string& HostAddress() const { return m_host.address; }
    // What the window's list, buttons and close do; null until the window
    // has initialised.
    CWindowCommands* Commands() const { return m_pCommands.get(); }
    CMainWindowView& View() const { return *m_pView; }

    // Runs a system-menu command: the About box for IDM_ABOUTBOX.
    void OnSysCommand(int command);
    // Opens the topic of the current help context.
    void OnHelp();
    // The "Logfile" check box turns the logfile on or off.
    void OnLogfile();
    // Copies the hidden "Merrow only" box into the filter.
    void OnOnlyMerrow();

    // StateOwner: the start-up check closes the program through the close
    // routine, which runs on the user-interface thread.
    void CloseProgram() override;

protected:
    // Fills the window and starts the engine, in the fixed order; runs once,
    // when the window is first shown.
    virtual bool OnInitDialog();
    bool DoDataExchange(CDataExchange& dx);

    void showEvent(QShowEvent* event) override;
    void reject() override;  // Escape and the window's close: the Close command
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Controls, bound by number.
    QLineEdit* m_statusLine = nullptr;            // 1055
    QPushButton* m_setIpButton = nullptr;         // 1018
    QPushButton* m_homePageButton = nullptr;      // 1038
    QPushButton* m_closeButton = nullptr;         // 2
    QPushButton* m_helpButton = nullptr;          // 57670
    QPushButton* m_merrowWebButton = nullptr;     // 1039
    QCheckBox* m_onlyMerrowCheck = nullptr;       // 1043
    QCheckBox* m_logfileCheck = nullptr;          // 1042
    QPlainTextEdit* m_step1Text = nullptr;        // 1053
    QPlainTextEdit* m_step2Text = nullptr;        // 1054
    QPlainTextEdit* m_listeningText = nullptr;    // 1052
    QPlainTextEdit* m_restartHintText = nullptr;  // 1051
    QTreeView* m_serverList = nullptr;            // 1024
    CAnimateCtrl* m_animation = nullptr;          // 1026
    CIPAddrCtl* m_pIPAddrCtl = nullptr;           // 1025

    Ipv4Bytes m_address{};  // exchanged with control 1025
    QIcon m_hIcon;
    HostIdentity m_host;      // this computer's name and first address
    HostOctets m_hostOctets;  // the address's first three octets, as text
    bool m_bInkwellMode;
    std::atomic<int> m_nHelpContext{kHelpAtRest};
    // The engine: logfile, server table, shared block and network thread.
    // m_shared, m_bOnlyMerrow and m_pLogfile live in it.
    std::unique_ptr<EngineHost> m_pEngine;
    std::unique_ptr<CMainWindowView> m_pView;
    // Made once the engine exists; goes before it.
    std::unique_ptr<CWindowCommands> m_pCommands;

private:
    void BindControls();
    void LookUpThisComputer();
    void ConnectCommands();
    void BuildSystemMenu();
    void AddAboutItem();
    void SetUpTooltips();
    void FillTexts();
    void SetUpServerList();
    void RemoveSizeItems();
    void StartAnimation();
    void StartEngine();
    void HideInstallerControls();
    void MakeCommands();
    void ShowSystemMenu(const QPoint& at);

    DialogEnvironment m_environment;
    CServerListModel* m_pServerListModel = nullptr;
    QMenu* m_pSystemMenu = nullptr;
    bool m_bInitialised = false;
};

// The About box: the icon, the program's name and version, and OK.
class CAboutDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace tessel
