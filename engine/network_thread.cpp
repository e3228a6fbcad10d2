#include "engine/network_thread.h"

#include <chrono>
#include <condition_variable>
#include <cstring>

#include "engine/answered_servers.h"
#include "engine/ipaddress.h"
#include "engine/job_board.h"
#include "engine/server_table.h"
#include "log/events.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "resources/texts.h"

namespace tessel {

namespace {

// Pauses of the start-up note, 8.9 s in all.
constexpr int kNoteFirstMs = 700;
constexpr int kNoteLongMs = 1400;
constexpr int kNoteShortMs = 1000;
// Pause between "Checking if already in list" and the listing.
constexpr int kListingPauseMs = 140;
// How often a bounded table looks for servers to forget, at most.
constexpr std::int64_t kForgetSweepMs = 60 * 1000;

class Loop {
public:
    Loop(SharedState& shared, NetworkThreadEnv& env)
        : m_shared(shared), m_env(env), m_channel(*env.channel),
          m_clock(shared.clock != nullptr ? *shared.clock : RealClock()),
          m_bounded(shared.serverList != nullptr && shared.serverList->Bounded()), m_lastSweepMs(m_clock.NowMs())
    {}

    int Run()
    {
        if (!Open()) return kExitAfterStartupFailure;
        if (m_env.openSession) m_session = m_env.openSession();
        m_env.listening.store(true);
        if (!ShowStartupNote()) return Stop();
        m_shared.hearing.store(true);
        for (;;) {
            if (m_shared.stopRequested.load()) return Stop();
            // Lines reach the file before the receive may block; while the
            // datagrams of a batch are handled they are written per batch.
            if (!m_channel.HasBuffered()) EndBatch();
            const ReceiveStatus status = m_channel.Receive(m_message);
            if (Logging()) BeginBatch();
            if (status == ReceiveStatus::Ok && !ArrivedOnChosenInterface()) {
                // Not heard at all: no line, no listing, never answered.
                m_shared.otherInterfaceRequests.fetch_add(1);
                continue;
            }
            if (m_message.hasSource) m_lastSource = m_message.sourceAddress;
            if (status == ReceiveStatus::Ok && PassedOver()) continue;
            NewLine();
            // Formatted only for a line that will be written: with the
            // logfile off the loop should cost little more than the receive.
            if (Logging()) m_shared.logFile->WriteEvent(EvRequestReceived, FormatAddress(m_lastSource));
            if (m_shared.stopRequested.load()) return Stop();
            if (status == ReceiveStatus::Error) {
                Log(EvReceiveError);
                continue;
            }
            if (status == ReceiveStatus::Closed) {
                Log(EvReceiveClosed);
                continue;
            }
            if (HandleRequest() == AssignmentEnd::StopThread) return Stop();
        }
    }

private:
    bool Open()
    {
        const OpenResult result = m_channel.Open();
        m_env.openResult.store(result);
        int event = 0;
        switch (result) {
        case OpenResult::Ok:
            return true;
        case OpenResult::StartupFailed:
            event = EvSocketStartupFailed;
            break;
        case OpenResult::SocketInvalid:
            event = EvSocketInvalid;
            break;
        case OpenResult::BroadcastFailed:
            event = EvBroadcastOptionFailed;
            break;
        case OpenResult::PortInUse:
        case OpenResult::PortNotPermitted:
        case OpenResult::BindFailed:
            event = EvBindFailed;
            break;
        }
        // The channel has already closed what it opened.
        Log(event);
        SetStage(m_shared, StageNetworkFailed);
        return false;
    }

    // A request whose arrival interface is unknown cannot be shown to have
    // come in on the chosen one.
    bool ArrivedOnChosenInterface() const
    {
        return m_shared.onlyInterface == 0 || static_cast<unsigned>(m_message.interfaceIndex) == m_shared.onlyInterface;
    }

    // plan and serve: a request of a server the run will never answer is
    // counted and nothing else (no line, no pause, no row), so a flood of
    // them cannot hold up a planned server's request or fill the logfile.
    bool PassedOver()
    {
        AnsweredServers* answered = m_shared.answeredOnly;
        if (answered == nullptr || m_message.buffer[bootp::kOp] != kBootRequest) return false;
        SerialText text;
        FormatSerialNumber(m_message, text);
        const std::string_view serial(text.data(), text.size());
        std::lock_guard<std::mutex> guard(m_shared.stateLock);
        if (answered->Answers(serial)) return false;
        if (answered->PassOver(serial)) answered->Name(serial, CurrentAddress());
        return true;
    }

    // The server's address as it asks: its source, or when it has none the
    // address it asks for (option 50), if any.
    std::string CurrentAddress(bool* fromOption = nullptr) const
    {
        std::string current = FormatAddress(m_message.sourceAddress);
        if (current != kNoAddress) return current;
        auto requested = FindRequestedAddress(m_message);
        if (!requested) return current;
        if (fromOption != nullptr) *fromOption = true;
        return *requested;
    }

    // False when a stop was asked for meanwhile: the note is not worth
    // keeping the closing program waiting for.
    bool Pause(int ms)
    {
        m_clock.SleepMs(ms);
        return !m_shared.stopRequested.load();
    }

    bool ShowStartupNote()
    {
        ServerTable* table = m_shared.serverList;
        auto insert = [table](const char* text) { return table ? table->InsertNote(text) : -1; };
        auto set = [table](int row, const char* text) {
            if (table) table->SetAddress(row, text);
        };
        if (!Pause(kNoteFirstMs)) return false;
        const int scanning = insert(TextOf(IDS_NOTE_SCANNING));
        if (!Pause(kNoteLongMs)) return false;
        set(scanning, TextOf(IDS_NOTE_PLEASE_WAIT));
        if (!Pause(kNoteLongMs)) return false;
        const int running = insert(TextOf(IDS_NOTE_RUNNING));
        if (!Pause(kNoteShortMs)) return false;
        set(running, TextOf(IDS_NOTE_DHCP_SERVERS));
        if (!Pause(kNoteShortMs)) return false;
        const int prevents = insert(TextOf(IDS_NOTE_PREVENTS));
        if (!Pause(kNoteShortMs)) return false;
        set(prevents, TextOf(IDS_NOTE_ADDRESSES));
        if (!Pause(kNoteShortMs)) return false;
        return Pause(kNoteLongMs);
    }

    AssignmentEnd HandleRequest()
    {
        if (m_message.buffer[bootp::kOp] != kBootRequest) return AssignmentEnd::BackToListening;
        // The prefix is read from the bytes: a request that is dropped as
        // another maker's needs its serial number as text only for the log.
        SerialText text;
        FormatSerialNumber(m_message, text);
        const std::size_t prefixLength = std::strlen(kMakerPrefixA);
        const bool maker = std::memcmp(text.data(), kMakerPrefixA, prefixLength) == 0 ||
                           std::memcmp(text.data(), kMakerPrefixB, prefixLength) == 0;
        const bool dropped = !maker && m_shared.onlyMerrow != nullptr && m_shared.onlyMerrow->load() != 0;
        if (dropped && !Logging()) return AssignmentEnd::BackToListening;
        const std::string serial(text.data(), text.size());
        Log(EvSerialNumber, serial);
        if (dropped) {
            Log(EvNotMerrowServer);
            return AssignmentEnd::BackToListening;
        }
        if (m_shared.printServersOnly) {
            const auto vendorClass = FindVendorClass(m_message);
            if (!vendorClass || *vendorClass != kPrintServerClass) {
                Log(EvNotPrintServer);
                return AssignmentEnd::BackToListening;
            }
        }
        if (!m_firstRequestSeen) {
            // The start-up note (rows 3 to 1) and the window's placeholder.
            if (ServerTable* table = m_shared.serverList) {
                for (int row = 3; row >= 0; --row) table->Delete(row);
            }
            m_firstRequestSeen = true;
            m_shared.awaitingFirstServer.store(false);
            if (m_shared.printServersOnly) Log(EvPrintServer);
        }
        Log(EvCheckingList);
        if (PauseServes(serial)) {
            EndBatch();  // every wait finds the lines on disk
            m_clock.SleepMs(kListingPauseMs);
        }
        ListIfNew(serial);

        std::string desired;
        bool chosen = false;
        {
            std::lock_guard<std::mutex> guard(m_shared.stateLock);
            const std::int32_t stage = m_shared.stage.load();
            chosen = stage >= StageAwaitRequest && stage <= StageVerifying && serial == m_shared.chosenSerial;
            if (chosen) desired = m_shared.desiredAddress;
        }
        if (m_env.procedure == nullptr) return AssignmentEnd::BackToListening;
        if (!chosen) {
            if (m_shared.jobs != nullptr)
                m_shared.jobs->Route(serial, m_message, *m_env.procedure, m_channel, m_session);
            return AssignmentEnd::BackToListening;
        }
        EndBatch();  // the assignment's waits and lines follow one by one
        AssignmentContext context{m_shared, m_channel, m_session};
        return m_env.procedure->Run(context, m_message, serial, desired);
    }

    // The pause before the listing paces what reaches the window: at most
    // one new row per pause, and the window gets the lock and its list to
    // itself in between; it also gives a hand-over in progress its moment
    // before the chosen server's request is judged. A request that can do
    // neither (a listed server asking again, any other server while the
    // window has left the idle stage) gains nothing from it, and in a burst
    // paying it for each of them would queue the chosen server's request
    // behind hundreds of others, or lose it to a full socket. So it is
    // skipped for such a request only while further datagrams are already
    // waiting; a request on its own keeps its pause whatever it is.
    // The look at the socket is a system call, so it is made only for a
    // request whose pause would not serve.
    bool PauseServes(const std::string& serial)
    {
        {
            std::lock_guard<std::mutex> guard(m_shared.stateLock);
            if (serial == m_shared.chosenSerial) return true;
            const ServerTable* table = m_shared.serverList;
            if (m_shared.stage.load() == StageIdle && table != nullptr && table->Find(serial) < 0 &&
                table->HasRoomFor(serial))
                return true;
        }
        return !m_channel.HasPending();
    }

    // One step under the lock, so the window never sees a half-made row and
    // no row is added once the window has left the idle stage.
    void ListIfNew(const std::string& serial)
    {
        std::lock_guard<std::mutex> guard(m_shared.stateLock);
        ServerTable* table = m_shared.serverList;
        if (m_shared.stage.load() != StageIdle || table == nullptr) return;
        std::int64_t now = 0;
        if (m_bounded) {
            now = m_clock.NowMs();
            if (now - m_lastSweepMs >= kForgetSweepMs) {
                table->Forget(now);
                m_lastSweepMs = now;
            }
            if (table->FindHeard(serial, now) >= 0) return;
            if (!table->HasRoomFor(serial)) {
                m_shared.unlistedForRoom.fetch_add(1);
                return;
            }
        } else if (table->Find(serial) >= 0) {
            return;
        }
        const int row = table->InsertServer(serial, now);
        Log(EvNewServer);
        bool fromOption = false;
        const std::string current = CurrentAddress(&fromOption);
        if (fromOption) Log(EvCurrentAddressFound, current);
        table->SetAddress(row, current);
    }

    int Stop()
    {
        EndBatch();  // the jobs' lines during the wait for them go out one by one
        if (m_shared.jobs != nullptr) {
            // The jobs' procedures use the channel and the session: they end
            // (at their next safe step) before either goes.
            m_shared.jobs->RequestStop();
            m_shared.jobs->Join();
        }
        Log(EvThreadsClosed);
        m_channel.Close();
        m_session.reset();
        return kExitAfterStop;
    }

    // The value is copied only for a line that will be written.
    void Log(int code, const std::string& value = {})
    {
        if (Logging()) m_shared.logFile->WriteEvent(code, value);
    }
    bool Logging() const { return m_shared.logFile != nullptr && m_shared.logFile->IsEnabled(); }
    void BeginBatch()
    {
        if (m_shared.logFile) m_shared.logFile->BeginBatch();
    }
    void EndBatch()
    {
        if (m_shared.logFile) m_shared.logFile->EndBatch();
    }
    void NewLine()
    {
        if (m_shared.logFile) m_shared.logFile->WriteNewLine();
    }

    SharedState& m_shared;
    NetworkThreadEnv& m_env;
    BootpChannel& m_channel;
    Clock& m_clock;
    BootpMessage m_message;
    std::shared_ptr<InternetSession> m_session;
    Ipv4Bytes m_lastSource{};  // 0.0.0.0 until a datagram names its source
    bool m_firstRequestSeen = false;
    const bool m_bounded;        // the table forgets or has a cap (fixed before the thread starts)
    std::int64_t m_lastSweepMs;  // the last look for servers to forget
};

}  // namespace

int NetworkThreadProc(SharedState* shared, NetworkThreadEnv& env)
{
    if (shared == nullptr || !env.channel) return kExitAfterStartupFailure;
    return Loop(*shared, env).Run();
}

struct NetworkThread::Runtime {
    NetworkThreadEnv env;
    std::atomic<bool> finished{false};
    std::atomic<int> exitCode{0};
    std::mutex doneLock;
    std::condition_variable done;
};

NetworkThread::NetworkThread(SharedState& shared, std::unique_ptr<BootpChannel> channel, AssignmentProcedure* procedure,
                             SessionFactory openSession)
    : m_shared(shared), m_runtime(std::make_shared<Runtime>())
{
    m_runtime->env.channel = std::move(channel);
    m_runtime->env.procedure = procedure;
    m_runtime->env.openSession = std::move(openSession);
}

NetworkThread::~NetworkThread()
{
    if (!m_thread.joinable()) return;
    // After a failed start the thread shows the failed stage while it still
    // holds stateLock, and ends right after. Whoever saw that stage may be
    // about to destroy SharedState, so the thread must be gone before this
    // object is: join it, the wait is a few instructions long.
    if (m_runtime->finished.load() || StartFailed())
        m_thread.join();
    else
        m_thread.detach();  // it keeps its own runtime alive; see WakeAndJoin
}

bool NetworkThread::WaitUntilListening()
{
    // Opening the socket takes moments; the thread ends at once on failure.
    while (!Listening()) {
        if (StartFailed() || Finished()) {
            if (m_thread.joinable()) m_thread.join();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool NetworkThread::StartFailed() const
{
    return m_runtime->env.openResult.load() != OpenResult::Ok;
}

void NetworkThread::Start()
{
    SharedState* shared = &m_shared;
    std::shared_ptr<Runtime> runtime = m_runtime;
    m_thread = std::thread([shared, runtime] {
        const int code = NetworkThreadProc(shared, runtime->env);
        runtime->exitCode.store(code);
        std::lock_guard<std::mutex> guard(runtime->doneLock);
        runtime->finished.store(true);
        runtime->done.notify_all();
    });
}

void NetworkThread::RequestStop()
{
    tessel::RequestStop(m_shared);
}

bool NetworkThread::WakeAndJoin(int timeoutMs)
{
    if (!m_thread.joinable()) return true;
    m_runtime->env.channel->Wake();
    {
        std::unique_lock<std::mutex> lock(m_runtime->doneLock);
        m_runtime->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return m_runtime->finished.load(); });
    }
    if (!m_runtime->finished.load() && !StartFailed()) {
        // Still inside an assignment: it ends by itself, with its own hold on
        // what it uses, and nobody will wait for it any more.
        m_thread.detach();
        return false;
    }
    m_thread.join();
    return true;
}

bool NetworkThread::Finished() const
{
    return m_runtime->finished.load();
}
int NetworkThread::ExitCode() const
{
    return m_runtime->exitCode.load();
}
OpenResult NetworkThread::Opened() const
{
    return m_runtime->env.openResult.load();
}
bool NetworkThread::Listening() const
{
    return m_runtime->env.listening.load();
}

}  // namespace tessel
