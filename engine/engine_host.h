// The engine as a front end starts and stops it: the support logfile, the
// server table, the shared block and the network thread, with the
// assignment procedure it answers the chosen server with. The window and
// tessel-cli both run the engine through this one host.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/answered_servers.h"
#include "engine/assignment.h"
#include "engine/bootp_channel.h"
#include "engine/job_board.h"
#include "engine/server_table.h"
#include "engine/shared_state.h"

namespace tessel {

class CLogfile;
class Clock;
class NetworkThread;

// As long as the window's close gives the threads before it goes on.
inline constexpr int kEngineStopWaitMs = 2800;
// The window keeps the host name in a 100-character buffer.
inline constexpr std::size_t kHostNameMax = 99;

struct EngineSetup {
    std::unique_ptr<CLogfile> logfile;  // required: the engine logs every step
    bool printServersOnly = false;      // Inkwell mode
    bool onlyMerrow = true;             // list only the maker's two prefixes
    std::string hostName;               // cut to kHostNameMax characters
    std::string hostAddress;            // dotted decimal, or empty
    Clock* clock = nullptr;             // null: the real clock
    // Null: the real procedure and the real socket on port 67.
    std::unique_ptr<AssignmentProcedure> procedure;
    std::unique_ptr<BootpChannel> channel;
    // tessel-cli's plan: jobs for several servers at once (JobBoard).
    bool severalJobs = false;
    // tessel-cli's --interface: the index of the one interface heard (0: all).
    unsigned onlyInterface = 0;
    // serve: the reply's own address is read when it is made
    // (SharedState::ownAddressOfArrival).
    bool ownAddressOfArrival = false;
    JobBoard::Runner jobRunner;  // empty: a thread per procedure run
    // A run of months (tessel-cli serve): the server table forgets servers
    // that are not kept once unheard for forgetAfterMs, and lists at most
    // maxServers (ServeTableBounds()). Default: no bounds, as for the
    // window, list, set and plan. The table is searched by binary search
    // either way.
    ServerTableBounds tableBounds;
    // The servers a bounded table never forgets and always lists (the
    // plan's serials, any case); replaced later with KeepServers.
    std::vector<std::string> keptServers;
    // tessel-cli's plan and serve: the only servers the run answers (the
    // plan's serials, any case). Every other server's request is passed over
    // and counted (SharedState::answeredOnly); replaced later with
    // KeepServers. Empty: every request is heard (the window, list, set).
    std::optional<std::vector<std::string>> answeredServers;
};

// The bounds for tessel-cli serve: kBoundedTableRows rows, a server that is
// not in the plan forgotten after kForgetUnheardMs unheard.
inline ServerTableBounds ServeTableBounds()
{
    return {kBoundedTableRows, kForgetUnheardMs};
}

// This computer's name and first IPv4 address, as the window's constructor
// looks them up; empty where the system gives none.
struct HostIdentity {
    std::string name;
    std::string address;
};
HostIdentity LookUpHost();

class EngineHost {
public:
    explicit EngineHost(EngineSetup setup);
    // Stops the network thread within the bound if it still runs.
    ~EngineHost();
    EngineHost(const EngineHost&) = delete;
    EngineHost& operator=(const EngineHost&) = delete;

    // Complete before Start(): the thread sees a whole block.
    SharedState& Shared();
    ServerTable& Table();
    CLogfile& Log();
    std::atomic<int>& OnlyMerrow();
    // Null unless the setup asked for several jobs.
    JobBoard* Jobs();
    // Replaces the servers a bounded table keeps and, where the setup
    // named them, the servers answered (a reloaded plan); safe while the
    // thread runs. Rows of servers no longer kept are forgotten once
    // unheard for the bound's time, as any other.
    void KeepServers(const std::vector<std::string>& serials);
    // What the thread passed over (answeredServers) since the last call:
    // the first servers of the run by name, and the count. Nothing without
    // answeredServers.
    std::vector<PassedOverServer> TakePassedOverNamed();
    PassedOverCount TakePassedOver();

    // Starts the network thread (once).
    void Start();
    bool Started() const;
    // Waits until port 67 is held (true) or could not be taken (false).
    bool WaitUntilListening();
    OpenResult Opened() const;
    bool Finished() const;

    // The close routine's request: stopRequested and the idle stage, under
    // the lock, and the same for every job. Nothing waits here. Answers the
    // stage it replaced.
    int RequestStop();
    // Writes the logfile's closing line and closes the file; the object
    // stays for threads that are still finishing.
    void CloseLogfile();
    // Closes the file without the closing line, as a logfile that the
    // program leaves open when it ends.
    void ReleaseLogfile();
    // Asks the thread to stop, wakes its receive and waits up to timeoutMs
    // for it to end. False when it is still busy (inside an assignment):
    // everything it uses is then kept alive until the process ends, and
    // this host may be destroyed safely.
    bool Stop(int timeoutMs = kEngineStopWaitMs);

private:
    struct Parts;
    std::shared_ptr<Parts> m_parts;
};

// The session's user agent: this program's file name, or its title.
std::string ProgramName();

}  // namespace tessel
