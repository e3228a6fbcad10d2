// The start-up check: a thread that watches the first 42 seconds of the
// program for three things the user must hear about (no working TCP/IP,
// the BOOTP/DHCP port not to be had, no server heard after 40 s). It shows
// nothing itself: the window shows its boxes and closes the program on the
// window's own thread when asked.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "resources/help_topics.h"

namespace tessel {

class Clock;

// What the check tells the user.
enum class StartupMessage {
    NoTcpIp,           // text 142, error icon; the program then closes
    PortInUse,         // text 125, error icon, help 39; the program then closes
    PortNotPermitted,  // a plain message saying how to run it; the program then closes
    NoServerYet,       // text 121, information icon, help 11
};

// How the network thread's start went, as seen 1.6 s after the start.
enum class NetworkStart { Running, PortInUse, PortNotPermitted };

// The window's side, called from the check's thread.
class StartupCheckWindow {
public:
    virtual ~StartupCheckWindow() = default;
    // Shows the message on the window's thread and returns when the user has
    // answered it, or when the window is going away.
    virtual void ShowStartupMessage(StartupMessage message) = 0;
    // Asks the window to close through its close routine; returns at once.
    virtual void CloseProgram() = 0;
};

inline constexpr int kStartupFirstSteps = 4;
inline constexpr int kStartupFirstStepMs = 400;
inline constexpr int kStartupHintSteps = 40;
inline constexpr int kStartupHintStepMs = 1000;

struct StartupCheckEnv {
    // Read without a lock; one writer each.
    const std::atomic<bool>& stopRequested;
    const std::atomic<bool>& awaitingFirstServer;
    HelpContext& help;
    Clock& clock;
    StartupCheckWindow& window;
    // Read once, 1.6 s after the start.
    std::function<NetworkStart()> networkStart;
    // Whether a UDP socket can be made; empty: make one on the system.
    std::function<bool()> socketWorks;
};

// The thread's body. Returns 0 in every case.
int StartupCheckThread(const StartupCheckEnv& env);

// Runs StartupCheckThread on its own thread. Join() waits for it: the check
// looks at stopRequested at least once a second, so a closing program waits
// at most that long (plus a message the window has not yet taken back).
class StartupCheck {
public:
    explicit StartupCheck(StartupCheckEnv env) : m_env(std::move(env)) {}
    ~StartupCheck() { Join(); }
    StartupCheck(const StartupCheck&) = delete;
    StartupCheck& operator=(const StartupCheck&) = delete;

    void Start();
    void Join();
    bool Finished() const { return m_finished.load(); }

private:
    StartupCheckEnv m_env;
    std::thread m_thread;
    std::atomic<bool> m_finished{false};
};

}  // namespace tessel
