// The main window's whole logic, whatever draws it: this computer as the
// window keeps it, the help context in force, the engine and the window
// commands, and the start-up in its fixed order. Each window makes one when
// it is made, calls Start() once it has filled its own texts, and hands
// its two check boxes here.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/engine_host.h"
#include "resources/help_topics.h"
#include "workflow/main_window_view.h"
#include "workflow/window_commands.h"

namespace tessel {

class AssignmentProcedure;
class BootpChannel;

// What the window takes from the computer it runs on; tests give their own.
struct WindowEnvironment {
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
    // The start-up check's own clock and socket test; unset: the steady
    // clock and a real socket.
    Clock* startupClock = nullptr;
    std::function<bool()> socketWorks;
};

class MainWindowLogic final {
public:
    // Looks this computer up (where the environment does not say).
    MainWindowLogic(MainWindowView& view, bool inkwellMode, WindowEnvironment environment = {});
    // The commands (and the start-up check they wait for) go first, then
    // the list's tie to the server table, then the engine.
    ~MainWindowLogic();
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // The window's initialisation after its own texts, once: step 2 waits
    // for a server and proposes this computer's network; the animation
    // (not for the installer); both switches on; the engine and the list
    // that follows its table; the installer's controls hidden and every
    // print server listed in Inkwell mode; the commands; the start-up
    // check, then the network thread; the focus on the list.
    void Start();
    // What the window shows before the engine runs, for a window that
    // paints before it calls Start(): step 2 waiting for a server with this
    // computer's network proposed, both switches on, the installer's
    // controls hidden in Inkwell mode. Start() does it where it was not
    // done.
    void ShowStartState();

    // The check boxes: "Logfile" and the hidden "only the maker's servers".
    void OnLogfileSwitch(bool on);
    void OnOnlyMerrowSwitch(bool on);

    bool InkwellMode() const { return m_bInkwellMode; }
    const HostIdentity& Host() const { return m_host.identity; }
    HelpContext& Help() { return m_help; }
    // Null until Start().
    EngineHost* Engine() const { return m_engine.get(); }
    WindowCommands* Commands() const { return m_pCommands.get(); }

private:
    MainWindowView& m_view;
    bool m_bInkwellMode;
    WindowEnvironment m_environment;
    WindowHost m_host;
    HelpContext m_help;
    bool m_bStartStateShown = false;
    std::unique_ptr<EngineHost> m_engine;
    // Made once the engine exists; goes before it.
    std::unique_ptr<WindowCommands> m_pCommands;
};

}  // namespace tessel
