// What the main window's list, buttons and close do: picking a server and
// proposing its address, the Set-IP command with the window as its front
// end, the browser, the close routine in both modes, and the start-up check
// whose messages and close run on the window's thread. The window owns one
// of these and calls it from its command slots.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/ipaddress.h"
#include "workers/startup_check.h"
#include "app/window_clock.h"

class QAbstractItemView;
class QDialog;
class QLineEdit;

namespace tessel {

class CAnimateCtrl;
class CIPAddrCtl;
class CProgressWindow;
class CWindowSetIpFrontEnd;
class EngineHost;
class SystemCommands;
struct ProbeRequest;

// How a web page is opened: the desktop's browser; tests install their own.
using UrlOpener = std::function<bool(const QUrl&)>;
// Installs `opener`; an empty one puts the desktop's back.
void SetUrlOpener(UrlOpener opener);

// The close routine's fixed waits.
inline constexpr int kCloseStepMs = 140;
inline constexpr int kCloseSteps = 20;         // 2.8 s with the notice
inline constexpr int kCloseStepsInkwell = 14;  // 1.96 s without
inline constexpr int kAnimationStopsBeforeStep = 15;

// The address proposed for a server listed with `address`: this computer's
// network with ending 0 for a server without an address of its own; in
// normal mode the server's last two octets on this computer's first two;
// in Inkwell mode the server's own address.
Ipv4Bytes ProposeAddress(const std::string& address, const std::array<std::string, 3>& hostOctets,
                         bool inkwellMode);

struct WindowCommandParts {
    QDialog* window = nullptr;
    QAbstractItemView* list = nullptr;  // model: column 0 serial, column 1 address
    CIPAddrCtl* address = nullptr;
    QLineEdit* statusLine = nullptr;
    QWidget* closeButton = nullptr;
    CAnimateCtrl* animation = nullptr;
    EngineHost* engine = nullptr;
    std::atomic<int>* helpContext = nullptr;
    bool inkwellMode = false;
    std::array<std::string, 3> hostOctets;
    Clock* clock = nullptr;               // the window's time; null: the steady clock
    Clock* startupClock = nullptr;        // the start-up check's; null: the steady clock
    SystemCommands* commands = nullptr;   // null: the system's own
    std::function<bool(std::shared_ptr<ProbeRequest>)> startIcmpProbe;  // empty: the real probe
    std::function<bool()> socketWorks;    // empty: the start-up check makes a real socket
    std::function<void(bool)> enableAddressInputs;
    std::function<void(const std::string&)> registerNewServer;  // "NewServer" for the installer
    std::function<void()> endDialog;
};

class CWindowCommands final : public StartupCheckWindow {
public:
    explicit CWindowCommands(WindowCommandParts parts);
    ~CWindowCommands() override;
    CWindowCommands(const CWindowCommands&) = delete;
    CWindowCommands& operator=(const CWindowCommands&) = delete;

    // The server list.
    void OnServerListClick();
    void OnServerListKeyDown(int key);  // before the list moves its selection
    void ShowSelectedServer(const QString& serial, const QString& address);

    void OnSetIpAddress();

    // Opens "http://" + host + "/"; box 112 when no browser could be started.
    bool LaunchBrowser(const QString& host);
    void OnHomePageOfSelected();
    void OnMerrowHomePage();

    // The close routine. While a command runs a close asked for from
    // elsewhere waits for the command's end; a close already under way is
    // not started again.
    void OnClose();

    // Starts the start-up check thread (just before the network thread).
    void StartStartupCheck();

    // StartupCheckWindow, called on the check's thread.
    void ShowStartupMessage(StartupMessage message) override;
    void CloseProgram() override;

    bool CommandRunning() const { return m_bCommandRunning; }
    bool Closing() const { return m_bClosing; }
    WindowClock& UiClock() { return m_clock; }
    // The Set-IP front end while a command runs, for tests that look at it.
    CWindowSetIpFrontEnd* FrontEnd() const { return m_pFrontEnd; }
    // The shutdown notice while the close shows it.
    CProgressWindow* Notice() const { return m_pNotice.get(); }

private:
    struct PendingMessage;
    void RunClose();
    void ShowStartupBox(StartupMessage message);
    bool ReadRow(int row, QString& serial, QString& address) const;

    WindowCommandParts m_parts;
    WindowClock m_clock;
    QObject m_context;  // queued calls from other threads land here, on the window's thread
    bool m_bCommandRunning = false;
    bool m_bClosePending = false;
    bool m_bClosing = false;
    CWindowSetIpFrontEnd* m_pFrontEnd = nullptr;
    std::unique_ptr<CProgressWindow> m_pNotice;

    std::mutex m_messageLock;
    std::shared_ptr<PendingMessage> m_pendingMessage;
    bool m_bMessagesCancelled = false;
    std::unique_ptr<StartupCheck> m_pStartupCheck;
};

}  // namespace tessel
