// The network thread: owns the BOOTP/DHCP socket, shows the start-up note,
// then receives requests one at a time for the rest of the program's life,
// lists the maker's servers, and hands the chosen server's request to the
// assignment procedure.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/assignment.h"
#include "engine/bootp_channel.h"
#include "engine/shared_state.h"

namespace tessel {

// The maker's two serial prefixes, compared case-sensitively.
inline constexpr const char* kMakerPrefixA = "0A-1B-2C";
inline constexpr const char* kMakerPrefixB = "0A-1B-2D";
inline constexpr const char* kPrintServerClass = "PS";
inline constexpr const char* kNoAddress = "0.0.0.0";
inline constexpr const char* kFactoryDefaultAddress = "198.51.100.80";

inline constexpr int kExitAfterStop = 0;
inline constexpr int kExitAfterStartupFailure = -1;

// Opens the internet session of the stores; called once, after the bind.
using SessionFactory = std::function<std::shared_ptr<InternetSession>()>;

struct NetworkThreadEnv {
    std::unique_ptr<BootpChannel> channel;
    AssignmentProcedure* procedure = nullptr;  // not owned; may be null (nothing is answered)
    SessionFactory openSession;                // may be empty (no session)
    // Filled by the thread: how opening the socket ended (Ok once listening).
    // A failure is stored before the failed stage is shown.
    std::atomic<OpenResult> openResult{OpenResult::Ok};
    std::atomic<bool> listening{false};
};

// The thread's procedure; returns its exit code: -1 after a start-up
// failure, 0 after a stop request.
int NetworkThreadProc(SharedState* shared, NetworkThreadEnv& env);

// Starts the procedure on its own thread and stops it in bounded time.
class NetworkThread {
public:
    NetworkThread(SharedState& shared, std::unique_ptr<BootpChannel> channel, AssignmentProcedure* procedure,
                  SessionFactory openSession = {});
    ~NetworkThread();
    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;

    void Start();
    // Waits until port 67 is held (true) or could not be taken (false; the
    // thread has then been joined, so SharedState may go at once).
    bool WaitUntilListening();
    // Sets stopRequested and the idle stage under the lock, as the window's
    // close does, without waking the thread.
    void RequestStop();
    // Wakes the blocked receive and waits up to timeoutMs for the thread to
    // end. False when it is still busy (inside an assignment): the caller
    // must then keep everything the thread uses alive until the process ends.
    bool WakeAndJoin(int timeoutMs);
    bool Finished() const;
    // Opening the socket failed: the thread has ended or is about to, and
    // is joined (not left running) by WakeAndJoin and the destructor.
    bool StartFailed() const;
    int ExitCode() const;
    OpenResult Opened() const;
    bool Listening() const;

private:
    // What the thread uses besides SharedState, kept alive by the thread
    // itself when it outlives this object.
    struct Runtime;
    SharedState& m_shared;
    std::shared_ptr<Runtime> m_runtime;
    std::thread m_thread;
};

}  // namespace tessel
