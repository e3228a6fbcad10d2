// What the main window's list, buttons and close do, free of any toolkit:
// picking a server and proposing its address, the list keys, the Set-IP
// command with the window as its front end, the browser and the home-page
// commands, the close routine in both modes, and the start-up check whose
// boxes and close run on the window's thread. MainWindowLogic makes one once
// the engine runs; the window implements MainWindowView for it and calls it
// from its handlers.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/engine_host.h"
#include "engine/ipaddress.h"
#include "resources/help_topics.h"
#include "workers/startup_check.h"
#include "workflow/main_window_view.h"

namespace tessel {

class SystemCommands;
struct ProbeRequest;

// The close routine's fixed waits.
inline constexpr int kCloseStepMs = 140;
inline constexpr int kCloseSteps = 20;         // 2.8 s with the notice
inline constexpr int kCloseStepsInkwell = 14;  // 1.96 s without
inline constexpr int kAnimationStopsBeforeStep = 15;

// The first three octets of this computer's address as decimal text, empty
// where the address could not be had.
using HostOctets = std::array<std::string, 3>;

// The keys the list hands over before it moves its own selection.
enum class ListKey { Home, End, Up, Down, Other };

// This computer's network with ending 0: the address the window proposes
// before any server is picked. An octet that is empty or no number is 0.
Ipv4Bytes HostNetworkAddress(const HostOctets& hostOctets);

// The address proposed for a server listed with `address`: this computer's
// network with ending 0 for a server without an address of its own; in
// normal mode the server's last two octets on this computer's first two;
// in Inkwell mode the server's own address.
Ipv4Bytes ProposeAddress(const std::string& address, const HostOctets& hostOctets, bool inkwellMode);

// This computer as a window keeps it: the name cut to kHostNameMax; the
// address, and its first three octets for the proposals, only when there
// is a name and the address has four parts.
struct WindowHost {
    HostIdentity identity;
    HostOctets octets;
};
WindowHost WindowHostOf(const HostIdentity& found);

// The engine of a window: the logfile where the mode puts it (in Inkwell
// mode in the installer's "Tessel Path" when it is there), every print
// server listed in Inkwell mode, the maker's prefixes otherwise. The
// caller adds what it replaces for tests (clock, channel, procedure).
EngineSetup WindowEngineSetup(bool inkwellMode, const std::optional<std::string>& tesselPath, const HostIdentity& host);

struct WindowCommandsSetup {
    MainWindowView* view = nullptr;
    EngineHost* engine = nullptr;
    HelpContext* help = nullptr;
    bool inkwellMode = false;
    HostOctets hostOctets;
    Clock* startupClock = nullptr;                                      // the start-up check's; null: the steady clock
    SystemCommands* commands = nullptr;                                 // null: the system's own
    std::function<bool(std::shared_ptr<ProbeRequest>)> startIcmpProbe;  // empty: the real probe
    std::function<bool()> socketWorks;                                  // empty: the start-up check makes a real socket
};

class WindowCommands final : public StartupCheckWindow {
public:
    explicit WindowCommands(WindowCommandsSetup setup);
    ~WindowCommands() override;
    WindowCommands(const WindowCommands&) = delete;
    WindowCommands& operator=(const WindowCommands&) = delete;

    // The server list: a click with the primary button, a key before the
    // list moves its selection.
    void OnServerListClick();
    void OnServerListKeyDown(ListKey key);
    void ShowSelectedServer(const std::string& serial, const std::string& address);

    void OnSetIpAddress();

    // Opens "http://" + host + "/"; box 112 when no browser will open.
    bool LaunchBrowser(const std::string& host);
    void OnHomePageOfSelected();
    void OnMerrowHomePage();

    // The close routine. While a command runs, a close asked for by the
    // program (the start-up check) waits for the command's end; a close
    // already under way is not started again.
    void OnClose();

    // Starts the start-up check thread (just before the network thread).
    void StartStartupCheck();

    // StartupCheckWindow, called on the check's thread.
    void ShowStartupMessage(StartupMessage message) override;
    void CloseProgram() override;

    // True from the press of Set IP (or the start of the close routine)
    // until it is over: the window takes no input meanwhile.
    bool CommandRunning() const { return m_bCommandRunning; }
    bool Closing() const { return m_bClosing; }
    bool ClosingAfterRegistration() const { return m_bClosingAfterRegistration; }

private:
    class FrontEnd;
    struct PendingMessage;
    void RunClose();
    void ShowStartupBox(StartupMessage message);
    MsgAnswer ShowBoxWithHelp(int id, int help);
    bool ReadRow(int row, std::string& serial, std::string& address) const;

    WindowCommandsSetup m_setup;
    MainWindowView& m_view;
    bool m_bCommandRunning = false;
    bool m_bClosePending = false;
    bool m_bClosing = false;
    bool m_bClosingAfterRegistration = false;
    // Calls posted to the window's thread hold this weakly: a call that
    // arrives after the commands are gone does nothing.
    std::shared_ptr<WindowCommands*> m_self;

    std::mutex m_messageLock;
    std::shared_ptr<PendingMessage> m_pendingMessage;
    bool m_bMessagesCancelled = false;
    std::unique_ptr<StartupCheck> m_pStartupCheck;
};

}  // namespace tessel
