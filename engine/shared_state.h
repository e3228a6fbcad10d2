// The block that the main window shares with the network thread and the
// start-up check: the one channel between interface and engine. Progress of
// an assignment travels only as the integer `stage`.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace tessel {

class AnsweredServers;
class CLogfile;
class Clock;
class JobBoard;
class ServerTable;

// Values of `stage`. The numbers are fixed: the window compares them.
enum Stage : std::int32_t {
    StageNetworkFailed = -3,  // the network thread could not take port 67 and ended
    StageBusy = -2,           // the window is checking or finishing a job
    StageIdle = -1,           // new servers are listed
    StageAwaitRequest = 0,    // job handed over: the chosen server's next request starts it
    StageReplied = 1,         // reply being sent (stays 1 when the send failed)
    StageRestarting = 2,      // 8.4 s after the reply
    StageVerifying = 3,       // 12.8 s after the reply (stays 3 when port 80 did not answer)
    StageVerified = 4,        // port 80 answered at the new address
    StageStored = 5,          // the address is stored permanently
};

// The interface index no datagram arrives on (indexes are below 2^31).
inline constexpr unsigned kNoInterfaceHere = ~0u;

struct SharedState {
    // Guards every write of `stage`, the network thread's reads of it,
    // `desiredAddress`, `chosenSerial` and the listing of a new server.
    std::mutex stateLock;
    // Written only under stateLock; polled without it.
    std::atomic<std::int32_t> stage{StageIdle};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> awaitingFirstServer{true};
    // Set when the start-up note has ended and the thread begins to hear
    // requests: tessel-cli's --seconds count from then.
    std::atomic<bool> hearing{false};
    bool printServersOnly = false;  // fixed before the thread starts
    const char* hostName = "";      // the window's 100-character host-name buffer
    std::string hostAddress;
    std::string desiredAddress;  // under stateLock
    std::string chosenSerial;    // under stateLock
    ServerTable* serverList = nullptr;
    std::atomic<int>* onlyMerrow = nullptr;  // non-zero: list only the maker's two prefixes
    CLogfile* logFile = nullptr;
    // Every fixed wait of the threads that share this block goes through it.
    Clock* clock = nullptr;
    // tessel-cli's plan: jobs of their own for several servers, fixed before
    // the thread starts. The window has none.
    JobBoard* jobs = nullptr;
    // Non-zero: only requests that arrived on this interface (its index)
    // are heard; the others are only counted. kNoInterfaceHere while the
    // chosen interface is missing: nothing is heard. serve changes it while
    // the thread runs when its interface comes, goes, or is made anew under
    // the same name (a new index).
    std::atomic<unsigned> onlyInterface{0};
    // The reply carries the address of the interface the request arrived
    // on, read as the reply is made (serve: addresses change over months);
    // hostAddress when that interface has none. Fixed before the thread
    // starts.
    bool ownAddressOfArrival = false;
    std::atomic<int> otherInterfaceRequests{0};
    // Requests of servers that a bounded table had no room to list.
    std::atomic<long long> unlistedForRoom{0};
    // tessel-cli's plan and serve: the servers the run answers. Every other
    // server's request is passed over (counted, nothing written, listed or
    // waited for). Null: every request is heard, as in the window, list and
    // set. The pointer is fixed before the thread starts; what it points to
    // is read and changed only under stateLock.
    AnsweredServers* answeredOnly = nullptr;
};

// Writes `stage` under the lock, as every writer must.
inline void SetStage(SharedState& shared, std::int32_t value)
{
    std::lock_guard<std::mutex> guard(shared.stateLock);
    shared.stage.store(value);
}

// Raises `stage` for the job that the window handed over. When the window
// has ended the job meanwhile (the stage is below 0), nothing is written and
// the answer is false: a procedure that is still running must not take the
// stage back from the window, or the server would go on being answered and
// no new server would be listed.
inline bool RaiseStage(SharedState& shared, std::int32_t value)
{
    std::lock_guard<std::mutex> guard(shared.stateLock);
    if (shared.stage.load() < StageAwaitRequest) return false;
    shared.stage.store(value);
    return true;
}

// The close routine's request: the stop flag and the idle stage in one step
// under the lock. Answers the stage it replaced, read in the same step, so
// no stage can be raised between (tessel-cli tells the server's state by it).
inline std::int32_t RequestStop(SharedState& shared)
{
    std::lock_guard<std::mutex> guard(shared.stateLock);
    const std::int32_t replaced = shared.stage.load();
    shared.stopRequested.store(true);
    shared.stage.store(StageIdle);
    return replaced;
}

}  // namespace tessel
