// The main window: the two steps of the job (pick a server from the list,
// type its address and set it), laid out by its template. It owns the
// controls, the help context and the engine, which it starts when it
// initialises. What its list, buttons and check boxes do beyond starting
// and showing is the work of the commands marked below.
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
#include "engine/shared_state.h"

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
class CWindowCommands;
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

class CTesselDlg : public QDialog, public StateOwner {
    Q_OBJECT
public:
    explicit CTesselDlg(bool inkwellMode, QWidget* parent = nullptr);
    CTesselDlg(bool inkwellMode, DialogEnvironment environment, QWidget* parent = nullptr);
    ~CTesselDlg() override;

    // Moves the address between m_dwIPAddress and control 1025; false when
    // a saving pass refused a field.
    bool UpdateData(bool saveAndValidate);

    // The engine; null until the window has initialised.
    EngineHost* Engine() const { return m_pEngine.get(); }
    CServerListModel& ServerListModel() const { return *m_pServerListModel; }
    QMenu* SystemMenu() const { return m_pSystemMenu; }
    std::atomic<int>& HelpContext() { return m_nHelpContext; }
    bool InkwellMode() const { return m_bInkwellMode; }
    const std::string& HostAddress() const { return m_strHostAddress; }

    // Runs a system-menu command: the About box for IDM_ABOUTBOX.
    void OnSysCommand(int command);
    // Opens the topic of the current help context.
    void OnHelp();
    // The "Logfile" check box turns the logfile on or off.
    void OnLogfile();
    // Enables or disables, in this order, text 1054, the address control
    // and "&Set IP address".
    void EnableAddressInputs(bool enable);

    // StateOwner: the start-up check closes the program through the close
    // routine, which must run on the user-interface thread.
    void CloseProgram() override;

    // ---- The window's commands: the workflow's (list selection, Set IP,
    // browser, close, start-up check) through CWindowCommands.
    virtual void OnSetIpAddress();
    virtual void OnServerListClick();
    // Called before the list moves its selection for the key.
    virtual void OnServerListKeyDown(int key);
    virtual void ShowSelectedServer(const QString& serial, const QString& address);
    // Copies the hidden "Merrow only" box into the filter.
    virtual void OnOnlyMerrow();
    virtual bool LaunchBrowser(const QString& host);
    virtual void OnHomePageOfSelected();
    virtual void OnMerrowHomePage();
    // The close routine: its fixed waits, then the engine stopped within its
    // bound and the dialog ended.
    virtual void OnClose();
    // Starts the start-up check thread; it runs just before the network
    // thread starts.
    virtual void StartStartupCheck();

    // The workflow's commands; null until the window has initialised.
    CWindowCommands* Commands() const { return m_pCommands.get(); }

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
    QLineEdit* m_statusLine = nullptr;          // 1055
    QPushButton* m_setIpButton = nullptr;       // 1018
    QPushButton* m_homePageButton = nullptr;    // 1038
    QPushButton* m_closeButton = nullptr;       // 2
    QPushButton* m_helpButton = nullptr;        // 57670
    QPushButton* m_merrowWebButton = nullptr;   // 1039
    QCheckBox* m_onlyMerrowCheck = nullptr;     // 1043
    QCheckBox* m_logfileCheck = nullptr;        // 1042
    QPlainTextEdit* m_step1Text = nullptr;      // 1053
    QPlainTextEdit* m_step2Text = nullptr;      // 1054
    QPlainTextEdit* m_listeningText = nullptr;  // 1052
    QPlainTextEdit* m_restartHintText = nullptr;  // 1051
    QTreeView* m_serverList = nullptr;          // 1024
    CAnimateCtrl* m_animation = nullptr;        // 1026

    std::uint32_t m_dwIPAddress = 0;
    QIcon m_hIcon;
    std::string m_strHostOctet1, m_strHostOctet2, m_strHostOctet3;
    std::string m_strHostAddress;
    std::array<char, kHostNameMax + 1> m_szHostName{};
    bool m_bInkwellMode;
    bool m_bClosingAfterRegistration = false;
    CIPAddrCtl* m_pIPAddrCtl = nullptr;
    std::atomic<int> m_nHelpContext{1};
    // The engine: logfile, server table, shared block and network thread.
    // m_shared, m_bOnlyMerrow and m_pLogfile live in it.
    std::unique_ptr<EngineHost> m_pEngine;
    // Made once the engine exists; goes before it.
    std::unique_ptr<CWindowCommands> m_pCommands;

private:
    void ShowSystemMenu(const QPoint& at);
    void SetUpTooltips();

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
