// The engine without a window: the engine host, with Ctrl+C and the end of
// the run handled the same way for every command of tessel-cli, and the
// servers it lists queued for the terminal.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_host.h"
#include "engine/server_table.h"

namespace tessel::cli {

struct HeadlessOptions {
    bool onlyMerrow = true;
    bool printServersOnly = false;
    std::optional<std::string> logfilePath;    // default: the window's default logfile
    bool logfileOff = false;                   // switched off at once, as the window's check box does
    bool serviceLogfile = false;               // serve: appended to, dated lines (LogfileKind::Service)
    bool severalJobs = false;                  // plan: jobs for several servers at once
    std::optional<std::string> interfaceName;  // --interface: only this one is heard
    unsigned interfaceIndex = 0;               // filled by ChooseInterface
    std::string interfaceAddress;              // its address: ours, as the servers there see it
    // serve: the reply's own address read as the reply is made, from the
    // interface the request arrived on (EngineSetup::ownAddressOfArrival).
    bool ownAddressOfArrival = false;
    Clock* clock = nullptr;  // the engine's waits; null: the real clock
    // serve: a table bounded for months, the plan's servers kept (EngineSetup).
    ServerTableBounds tableBounds;
    std::vector<std::string> keptServers;
    // plan and serve: the only servers answered; every other server's
    // request is passed over and counted (EngineSetup::answeredServers).
    std::optional<std::vector<std::string>> answeredServers;
};

// What the main loop is woken by.
struct HeadlessEvent {
    enum Kind { Listed, Interrupted, NetworkFailed, TimedOut } kind;
    std::string serial, address;
};

class Headless final : private ServerTableObserver {
public:
    explicit Headless(const HeadlessOptions& options);
    ~Headless() override;

    // Watches Ctrl+C and termination (they then end nothing by themselves:
    // Next() reports them), then starts the network thread.
    void Start();

    // Waits until port 67 is held (true) or could not be taken (false).
    bool WaitUntilListening();
    // Start() and WaitUntilListening(); says on stderr why port 67 could
    // not be taken.
    bool StartListening();

    // Waits up to timeoutMs (real time) for the next thing to tell.
    HeadlessEvent Next(std::int64_t timeoutMs);

    // --seconds: how long the run hears. The time counts from when the
    // network thread hears, after its start-up note (about 8.9 s).
    void HearFor(int seconds) { m_hearMs = static_cast<std::int64_t>(seconds) * 1000; }
    // What is left of it; the whole while the thread does not hear yet.
    std::int64_t HearingLeftMs();
    // Next(), timed out only when the hearing time is over.
    HeadlessEvent NextWhileHearing();

    // Asks the thread to stop and waits for it up to timeoutMs. False when
    // it was still busy: what it uses is then kept to the end of the process.
    bool Stop(int timeoutMs = kEngineStopWaitMs);
    // Writes the logfile's closing line; the object stays for late writers.
    void CloseLogfile() { m_engine->CloseLogfile(); }

    // Requests that came in on other interfaces than --interface's.
    int OtherInterfaceRequests() { return Shared().otherInterfaceRequests.load(); }

    // The message for a port 67 that could not be taken.
    std::string NetworkFailure() const;

    EngineHost& Engine() { return *m_engine; }
    SharedState& Shared() { return m_engine->Shared(); }
    ServerTable& Table() { return m_engine->Table(); }
    CLogfile& Log() { return m_engine->Log(); }

private:
    void OnRowInserted(int, const ServerRow&) override {}
    void OnRowChanged(int index, const ServerRow& row) override;
    void OnRowDeleted(int) override {}

    HeadlessEvent NextBefore(const std::function<std::int64_t()>& leftMs);

    std::unique_ptr<EngineHost> m_engine;
    std::int64_t m_hearMs = 0;
    std::int64_t m_hearingSince = -1;  // real time; below 0 while not hearing

    std::mutex m_lock;
    std::deque<std::pair<std::string, std::string>> m_listed;
};

// Says on stderr, once, that the logfile could not be opened, with its
// path and the system's reason; the run goes on without it.
void TellLogfileNotOpened(const CLogfile& log);
// After its close: says when what was written did not all reach the file.
void TellLogfileNotWhole(const CLogfile& log);

// Once a reply is out, a Ctrl+C waits for the network thread's next safe
// step: the end of its current wait or transfer (an FTP transfer is bounded
// by the session's 30 s a request).
inline constexpr int kSafeStepWaitMs = 120000;

// Stops the engine, then `tell` (may be empty) and the logfile's closing
// line. Ends the process when the network thread is still busy after its
// stop: what it uses must not be destroyed under it.
int Finish(Headless& headless, int status, int stopWaitMs = kEngineStopWaitMs, const std::function<void()>& tell = {});

}  // namespace tessel::cli
