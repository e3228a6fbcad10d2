#include "cli/serve_run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/exit_status.h"
#include "cli/headless.h"
#include "cli/interruptible_clock.h"
#include "cli/job_pool.h"
#include "cli/plan_file.h"
#include "cli/plan_report.h"
#include "cli/report.h"
#include "engine/shared_state.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "platform/hostinfo.h"
#include "platform/interrupt.h"
#include "service/back_off.h"
#include "service/journal.h"
#include "service/ledger.h"
#include "service/notify.h"

namespace tessel::cli {

using service::kErr;
using service::kInfo;
using service::kNotice;
using service::kWarning;

namespace {

// How often the run looks at its jobs, a reload and a stop.
constexpr std::int64_t kLookMs = 100;
// Requests of servers not in the plan are told as one line this often (and
// at the stop), however many there were; the engine names only the first
// few servers of a run.
constexpr std::int64_t kPassedOverLineMs = 60 * 1000;
// How often serve looks whether its --interface came, went or was made anew.
constexpr std::int64_t kInterfaceLookMs = 1000;

// The longest name the system gives an interface (IFNAMSIZ less its NUL).
constexpr std::size_t kInterfaceNameMax = 15;

std::string LedgerPath(const ServeArguments& serve)
{
    return serve.ledger.empty() ? service::DefaultLedgerPath() : serve.ledger;
}

// Reads and checks a plan as plan does; the refused lines in `errors`.
// An empty plan is good for serve (unlike plan): the service is installed
// with a commented example, and answers nobody until the plan lists servers.
PlanCheck CheckedPlan(const PlanArguments& args)
{
    PlanCheck check = ReadPlan(args.file, args.confirm, {}, 0, PlanSource::RegularFileOnly);
    if (check.entries.empty() && check.errors.size() == 1 && check.errors[0] == args.file + ": lists no server")
        check.errors.clear();
    for (std::string& error : NeverHeard(check.entries, args.options)) check.errors.push_back(std::move(error));
    // Each refused line says which file it is in.
    for (std::string& error : check.errors)
        if (error.rfind("line ", 0) == 0) error = args.file + ": " + error;
    return check;
}

// The refused lines, one "tessel-cli: ..." line each.
std::string RefusedLines(const PlanCheck& check)
{
    std::string text;
    for (const std::string& error : check.errors) text += "tessel-cli: " + error + "\n";
    return text;
}

// Why a job ended, in a sentence of the ledger.
std::string WhyEnded(int status)
{
    switch (status) {
    case kExitOk:
        return "the server confirmed the permanent store";
    case kExitUntilRestart:
        return "the server took the address; storing it permanently failed";
    case kExitNotVerified:
        return "replied; the server was not found at the address";
    case kExitNoRequest:
        return "the server did not ask again once its job was ready";
    case kExitUnconfirmed:
        return "the server answers at the address; no store was confirmed";
    case kExitAlreadySet:
        return "the server already has the address; nothing was sent";
    case kExitRefused:
        return "another device answers at the address; it was not given";
    case kExitNotChecked:
        return "the address could not be checked (no permission for ICMP; --unchecked goes on without)";
    case kExitNotSent:
        return "the address could not be checked (the ICMP echo request could not be sent)";
    case kExitNoThread:
        return "the system gave no thread for the job";
    default:
        return "status " + std::to_string(status);
    }
}

// Whether the server now holds its planned address, so that its strikes
// may clear: stored, or it had the address already.
bool Holds(int status)
{
    return status == kExitOk || status == kExitAlreadySet;
}

class ServeRun {
public:
    ServeRun(const ServeArguments& args, std::vector<PlanEntry> entries)
        : m_args(args), m_backOff(args.backOffDivisor),
          m_log(stderr, service::StreamIsJournal(stderr, std::getenv("JOURNAL_STREAM"))),
          m_notify(std::getenv("NOTIFY_SOCKET"))
    {
        UsePlan(entries);
    }

    int Run()
    {
        const std::string ledgerPath = LedgerPath(m_args);
        if (const int status = OpenLedger(ledgerPath); status != kExitOk) return status;
        RestoreBackOff(ledgerPath);

        HeadlessOptions options = m_args.plan.options;
        options.severalJobs = true;
        // Months of lines: appended run after run, dated, reopened at SIGHUP.
        options.serviceLogfile = true;
        options.ownAddressOfArrival = true;
        options.clock = &m_engineClock;
        FollowInterface();
        options.interfaceIndex = m_interfaceIndex;
        options.interfaceAddress = m_interfaceAddress;
        // Months of requests: the list forgets servers not in the plan
        // that went unheard for an hour and holds a bounded number of rows;
        // the plan's servers always get theirs.
        options.tableBounds = ServeTableBounds();
        options.keptServers = PlannedSerials();
        // Servers not in the plan cost a count, not a row and a pause each.
        options.answeredServers = options.keptServers;
        Headless headless(options);
        TellLogfileWrites(headless.Log());
        // A hang-up reads the plan again; it does not end the service.
        WatchInterrupts(HangUp::Counted);
        m_hangUps = HangUpsReceived();
        headless.Start();
        if (!headless.WaitUntilListening()) {
            m_log.Tell(kErr, "tessel-cli: " + headless.NetworkFailure());
            return kExitPortUnavailable;
        }
        m_headless = &headless;
        JobPool pool(*headless.Engine().Jobs(), m_args.plan.confirm, m_args.plan.unchecked);
        m_pool = &pool;
        m_log.Tell(kNotice, FilterDescription(m_args.plan.options) + "\nServing the plan of " +
                                std::to_string(m_entries.size()) + " server" + (m_entries.size() == 1 ? "" : "s") +
                                " from " + m_args.plan.file + ", up to " + std::to_string(m_args.plan.parallel) +
                                " at once; ledger " + ledgerPath + ".");
        m_notify.Send("READY=1\n" + StatusLine());
        m_passedOverSince = RealClock().NowMs();

        for (;;) {
            TellPassedOver(false);
            CollectEnded();
            StartWaiting();
            if (RealClock().NowMs() - m_interfaceLookedMs >= kInterfaceLookMs) FollowInterface();
            if (HangUpsReceived() != m_hangUps) {
                m_hangUps = HangUpsReceived();
                ReopenFiles();
                Reload();
            }
            const HeadlessEvent event = headless.Next(kLookMs);
            if (event.kind == HeadlessEvent::Listed) {
                Heard(event.serial, event.address);
            } else if (event.kind == HeadlessEvent::NetworkFailed) {
                m_log.Tell(kErr, "tessel-cli: " + headless.NetworkFailure());
                StopJobs();
                return Finish(headless, kExitPortUnavailable);
            } else if (event.kind == HeadlessEvent::Interrupted) {
                return Stop();
            }
        }
    }

private:
    void UsePlan(const std::vector<PlanEntry>& entries)
    {
        m_entries.clear();
        for (const PlanEntry& entry : entries) m_entries[entry.serial] = entry;
    }

    // --interface as it is now. Missing (or without an IPv4 address yet, as
    // at boot) it is waited for, told once; when it comes, or is made anew
    // under its name (a new index), its requests are heard from then on.
    void FollowInterface()
    {
        m_interfaceLookedMs = RealClock().NowMs();
        const std::optional<std::string>& name = m_args.plan.options.interfaceName;
        if (!name) return;
        HeadlessOptions found;
        found.interfaceName = name;
        const std::string missing = ChooseInterface(found, NetworkInterfaces());
        const unsigned index = missing.empty() ? found.interfaceIndex : kNoInterfaceHere;
        if (index == m_interfaceIndex && found.interfaceAddress == m_interfaceAddress) return;
        const bool atStart = m_interfaceIndex == 0;
        m_interfaceIndex = index;
        m_interfaceAddress = found.interfaceAddress;
        if (m_headless != nullptr) m_headless->Shared().onlyInterface.store(index);
        if (index == kNoInterfaceHere)
            m_log.Tell(kWarning,
                       "tessel-cli: " + missing +
                           "; serve waits for it and hears its servers once it is here with an IPv4 address.");
        else if (!atStart)
            m_log.Tell(kNotice, "tessel-cli: interface " + *name + " is here (" + m_interfaceAddress +
                                    "); its servers are heard.");
    }

    Ipv4Bytes PlannedAddress(const std::string& serial) const
    {
        const auto it = m_entries.find(serial);
        return it == m_entries.end() ? Ipv4Bytes{} : it->second.address;
    }

    std::vector<std::string> PlannedSerials() const
    {
        std::vector<std::string> serials;
        for (const auto& [serial, entry] : m_entries) serials.push_back(serial);
        return serials;
    }

    std::string StatusLine() const
    {
        const std::int64_t now = RealClock().NowMs();
        return "STATUS=" + std::to_string(m_entries.size()) + " planned, " + std::to_string(m_served) +
               " served since start, " + std::to_string(m_backOff.HeldAt(now)) + " in back-off, " +
               std::to_string(m_pool != nullptr ? m_pool->Running() : 0) + " running";
    }

    // Sent when it changed: the run looks ten times a second.
    void TellStatus()
    {
        std::string line = StatusLine();
        if (line == m_lastStatus) return;
        m_notify.Send(line);
        m_lastStatus = std::move(line);
    }

    // UTC of a time on the run's clock.
    static std::int64_t Utc(std::int64_t steadyMs) { return service::UtcNowMs() + (steadyMs - RealClock().NowMs()); }

    // The ledger is one serve's at a time (a second one is refused with its
    // own status) and only a regular file. Compactions are told.
    int OpenLedger(const std::string& path)
    {
        std::string why;
        switch (m_ledger.TakeLock(path, why)) {
        case service::Ledger::Lock::Held:
            break;
        case service::Ledger::Lock::InUse:
            m_log.Tell(kErr, "tessel-cli: the ledger " + why + "; one serve at a time may keep a ledger.");
            return kExitLedgerInUse;
        case service::Ledger::Lock::Failed:
            m_log.Tell(kErr, "tessel-cli: the ledger cannot be locked: " + why);
            return kExitCantCreate;
        }
        m_ledger.OnCompacted([this](const service::Ledger::Compaction& done) {
            if (done.failure.empty())
                m_log.Tell(kNotice, "The ledger " + m_ledger.Path() + " was compacted from " +
                                        std::to_string(done.before) + " to " + std::to_string(done.after) +
                                        " bytes (each server's latest lines kept).");
            else
                m_log.Tell(kWarning, "tessel-cli: the ledger could not be compacted (" + done.failure +
                                         "); it grows on as it was.");
        });
        if (const std::string error = m_ledger.Open(path); !error.empty()) {
            m_log.Tell(kErr, "tessel-cli: the ledger cannot be written: " + error);
            return kExitCantCreate;
        }
        return kExitOk;
    }

    // A failed write of the support logfile is told when it happens, once
    // for a run of failures; the service goes on without those lines.
    void TellLogfileWrites(CLogfile& logfile)
    {
        logfile.OnWriteFailure([this, path = logfile.Path()](const std::string& reason) {
            if (!reason.empty())
                m_log.Tell(kErr, "tessel-cli: the logfile " + path + " cannot be written: " + reason +
                                     "; serving goes on, its lines are lost until it can.");
            else
                m_log.Tell(kNotice, "The logfile " + path + " is written again.");
        });
    }

    // SIGHUP after a rotation: the ledger and the logfile are opened anew by
    // their paths, so new lines go to the new files. One that cannot be
    // opened keeps the file it had.
    void ReopenFiles()
    {
        if (const std::string error = m_ledger.Reopen(); !error.empty())
            m_log.Tell(kErr, "tessel-cli: the ledger could not be opened anew (" + error + "); lines go on to the " +
                                 "file it had.");
        CLogfile& logfile = m_headless->Log();
        if (const std::string error = logfile.Reopen(); !error.empty())
            m_log.Tell(kErr, "tessel-cli: the logfile " + logfile.Path() + " could not be opened anew (" + error +
                                 "); lines go on to the file it had.");
    }

    // A back-off that a former run began still holds: a broken server is
    // not hammered because the service was restarted. The ledger is read as
    // a stream; only the planned servers' last lines are kept.
    void RestoreBackOff(const std::string& path)
    {
        std::map<std::string, service::LedgerLine> last;
        const std::string error = service::ForEachLedgerLine(path, [&](service::LedgerLine&& line) {
            if (m_entries.count(line.serial) != 0) last[line.serial] = std::move(line);
        });
        if (!error.empty()) m_log.Tell(kWarning, "tessel-cli: no back-off restored: " + error);
        const std::int64_t utcNow = service::UtcNowMs(), now = RealClock().NowMs();
        for (const auto& [serial, line] : last)
            // A line of the plan that changed since (another address) starts
            // without the old address's back-off.
            if (line.address == FormatAddress(m_entries[serial].address) && line.nextMs > utcNow)
                m_backOff.Restore(serial, line.strikes, now + (line.nextMs - utcNow), now);
    }

    void Write(const service::LedgerLine& line)
    {
        if (!m_ledger.Append(line))
            m_log.Tell(kErr,
                       "tessel-cli: the ledger line of " + line.serial + " could not be written to " + m_ledger.Path());
    }

    // The server asked; its row is taken back out of the list so that its
    // next request is heard as well.
    void Heard(const std::string& serial, const std::string& address)
    {
        const auto it = m_entries.find(serial);
        // Listed just before a reload took it out of the plan: never
        // answered. The engine passes over its next requests.
        if (it == m_entries.end()) return;
        Unlist(serial);
        if (m_pool->Runs(Key(serial)) || std::find(m_waiting.begin(), m_waiting.end(), serial) != m_waiting.end())
            return;
        // A server whose job found it holding its planned address may go on
        // asking from it: that was told once, and costs it no strike. Asking
        // from any other address (a reset) is served as ever.
        if (address == FormatAddress(it->second.address) && m_holding.count(serial) != 0) return;
        m_holding.erase(serial);
        const std::int64_t now = RealClock().NowMs();
        const service::BackOff::Decision decision = m_backOff.OnRequest(serial, now);
        if (decision.kind == service::BackOff::Decision::Hold) return;
        if (decision.kind == service::BackOff::Decision::HoldAndTell) {
            const std::string until = service::UtcText(Utc(decision.untilMs));
            if (decision.soonAfterJob) {
                m_log.Tell(kWarning, serial + " " + address + " asks again soon after its job: held back until " +
                                         until + " (strike " + std::to_string(decision.strikes) + ")");
                Write({service::UtcNowMs(), serial, FormatAddress(it->second.address), "held back", -1,
                       "asked again soon after its job ended", decision.strikes, Utc(decision.untilMs)});
            } else {
                m_log.Tell(kNotice, serial + " " + address + " asks; in back-off until " + until + " (strike " +
                                        std::to_string(decision.strikes) + "), not answered before");
            }
            TellStatus();
            return;
        }
        m_log.Tell(kInfo, "heard " + serial + " " + address);
        m_waiting.push_back(serial);
        m_heardAddress[serial] = address;
    }

    // What the engine passed over: the first servers not in the plan by
    // name, once each, and once a minute (and at the stop) one line with
    // the count of requests and servers.
    void TellPassedOver(bool last)
    {
        EngineHost& engine = m_headless->Engine();
        for (const PassedOverServer& server : engine.TakePassedOverNamed())
            m_log.Tell(kInfo, "heard " + server.serial + " " + server.address + " (not in the plan; not answered)");
        const std::int64_t now = RealClock().NowMs();
        if (!last && now - m_passedOverSince < kPassedOverLineMs) return;
        const PassedOverCount count = engine.TakePassedOver();
        if (count.requests > 0)
            m_log.Tell(kInfo, PassedOverText(count) + " not in the plan in the last " +
                                  std::to_string((now - m_passedOverSince + 500) / 1000) + " s; none answered");
        m_passedOverSince = now;
        m_passedOver += count.requests;
    }

    // Takes the server's row out of the engine's list, under the lock of
    // its listing step: its next request lists it anew, and is heard.
    void Unlist(const std::string& serial)
    {
        std::lock_guard<std::mutex> guard(m_headless->Shared().stateLock);
        ServerTable& table = m_headless->Table();
        if (const int row = table.Find(serial); row >= 0) table.Delete(row);
    }

    // A job's key is its serial's place in the list of serials ever served.
    std::size_t Key(const std::string& serial)
    {
        const auto [it, added] = m_keys.emplace(serial, m_keys.size());
        if (added) m_serials.push_back(serial);
        return it->second;
    }

    void StartWaiting()
    {
        while (!m_waiting.empty() && static_cast<int>(m_pool->Running()) < m_args.plan.parallel &&
               InterruptRequested() == 0) {
            const std::string serial = m_waiting.front();
            m_waiting.pop_front();
            // Its line as the plan reads now: a reload may have changed or
            // removed it since it asked.
            const auto it = m_entries.find(serial);
            if (it == m_entries.end()) continue;
            const std::string refused = m_pool->Start(Key(serial), it->second, m_heardAddress[serial]);
            m_running[serial] = it->second;
            if (!refused.empty()) {
                m_log.Tell(kErr, "tessel-cli: the job of " + serial + " could not be started: " + refused);
                JobEnd end;
                end.serial = serial;
                end.exit.status = kExitNoThread;
                Ended(end);
            }
        }
        TellStatus();
    }

    void CollectEnded()
    {
        for (const JobEnd& end : m_pool->Collect()) Ended(end);
    }

    void Ended(const JobEnd& end)
    {
        const PlanEntry entry = m_running[end.serial];
        m_running.erase(end.serial);
        PlanRow row{end.serial, FormatAddress(entry.address)};
        row.seconds = end.seconds;
        row.stage = end.highestStage;
        service::LedgerLine line{service::UtcNowMs(), end.serial, row.address, "", end.highestStage, "", 0, 0};
        if (end.interrupted) {
            row.state = PlanRow::Interrupted;
            line.why = "stopped on request: " + InterruptedStateLine(row.stage, row.serial, row.address);
            m_log.Tell(kWarning, line.why);
        } else {
            row.state = PlanRow::Ended;
            row.status = end.exit.status;
            const std::int64_t now = RealClock().NowMs();
            std::int64_t until = 0;
            if (row.status == kExitAlreadySet && entry.address == PlannedAddress(end.serial)) {
                // Nothing was given, so nothing can have failed to hold: no
                // strikes, and its further asks from there are not told.
                m_backOff.Forget(end.serial);
                m_holding.insert(end.serial);
            } else {
                until = m_backOff.OnJobEnded(end.serial, now, Holds(row.status));
            }
            if (Holds(row.status)) ++m_served;
            line.why = WhyEnded(row.status);
            if (until > 0) {
                line.nextMs = Utc(until);
                line.strikes = m_backOff.Strikes(end.serial);
            }
            std::string text = PlanLine(row) + ": " + line.why;
            if (until > 0) text += "; not answered again before " + service::UtcText(line.nextMs);
            m_log.Tell(Holds(row.status) ? kNotice : kWarning, text);
        }
        line.result = PlanOutcome(row);
        Write(line);
        TellStatus();
    }

    // SIGHUP: the plan is read again. A refused plan is told with its lines
    // and the running plan is kept; running jobs go on with their lines.
    void Reload()
    {
        m_notify.Send("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(MonotonicUsec()));
        const PlanCheck check = CheckedPlan(m_args.plan);
        if (!check.errors.empty()) {
            const std::string text =
                RefusedLines(check) + "tessel-cli: the new plan was refused; the running plan of " +
                std::to_string(m_entries.size()) + " server" + (m_entries.size() == 1 ? "" : "s") + " is kept.";
            m_log.Tell(kErr, text);
        } else {
            int added = 0, changed = 0, removed = 0;
            std::map<std::string, PlanEntry> next;
            for (const PlanEntry& entry : check.entries) {
                next[entry.serial] = entry;
                const auto old = m_entries.find(entry.serial);
                if (old == m_entries.end()) {
                    // Heard before as a server not in the plan: heard again
                    // at its next request.
                    Unlist(entry.serial);
                    ++added;
                } else if (old->second.address != entry.address) {
                    // A new address is a new job: what held the server back
                    // (or found it holding) was about the old one.
                    m_backOff.Forget(entry.serial);
                    m_holding.erase(entry.serial);
                    ++changed;
                }
            }
            for (const auto& [serial, entry] : m_entries)
                if (next.count(serial) == 0) {
                    ++removed;
                    m_backOff.Forget(serial);
                    m_holding.erase(serial);
                }
            m_entries.swap(next);
            m_headless->Engine().KeepServers(PlannedSerials());
            m_log.Tell(kNotice, "Plan read again from " + m_args.plan.file + ": " + std::to_string(m_entries.size()) +
                                    " servers (" + std::to_string(added) + " added, " + std::to_string(changed) +
                                    " changed, " + std::to_string(removed) + " removed).");
        }
        m_notify.Send("READY=1\n" + StatusLine());
    }

    static std::int64_t MonotonicUsec()
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
    }

    void StopJobs()
    {
        for (const auto& [key, stage] : m_pool->RequestStop()) m_stopStage[m_serials[key]] = stage;
        m_headless->Engine().RequestStop();
        // Every block is stopped now: a wait that ends finds its stage
        // taken back and leaves at once.
        m_engineClock.EndWaits();
        // A job's clock leaves the command at its next 50-ms slice once the
        // interrupt arrived; without one, the stopped stage ends it within
        // the command's own deadlines.
        while (m_pool->Running() > 0) {
            m_pool->WaitForEnd(kLookMs);
            for (JobEnd end : m_pool->Collect()) {
                end.highestStage = std::max(end.highestStage, m_stopStage[end.serial]);
                Ended(end);
            }
        }
    }

    // SIGTERM or Ctrl+C: running jobs reach a safe step, each interrupted
    // server's state is told (and written), and the run ends with 0.
    int Stop()
    {
        m_notify.Send("STOPPING=1");
        const bool running = m_pool->Running() > 0;
        if (running) m_log.Tell(kNotice, "tessel-cli: stopping; letting the running jobs reach a safe step...");
        StopJobs();
        return Finish(*m_headless, kExitOk, running ? kSafeStepWaitMs : kEngineStopWaitMs, [this] {
            TellPassedOver(true);
            m_log.Tell(kNotice, "tessel-cli: stopped on request; " + std::to_string(m_served) +
                                    " served since start; " + std::to_string(m_passedOver) +
                                    " requests of servers not in the plan, none answered.");
        });
    }

    const ServeArguments& m_args;
    std::map<std::string, PlanEntry> m_entries;  // the plan in force
    service::BackOff m_backOff;
    service::EventLog m_log;
    service::Notifier m_notify;
    service::Ledger m_ledger;
    StopShortenedClock m_engineClock;  // the engine's waits, ended early by a stop
    Headless* m_headless = nullptr;
    JobPool* m_pool = nullptr;
    unsigned m_hangUps = 0;
    std::string m_lastStatus;

    std::deque<std::string> m_waiting;
    std::map<std::string, std::string> m_heardAddress;
    std::map<std::string, PlanEntry> m_running;  // each running job's line, as it started
    std::map<std::string, std::size_t> m_keys;
    std::vector<std::string> m_serials;
    std::map<std::string, int> m_stopStage;
    std::int64_t m_passedOverSince = 0;  // the real clock's time of the last count
    long long m_passedOver = 0;          // requests of servers not in the plan since start
    std::set<std::string> m_holding;     // found holding their planned address; not told again
    int m_served = 0;
    // --interface: its index and address as last seen (kNoInterfaceHere: missing).
    unsigned m_interfaceIndex = 0;
    std::string m_interfaceAddress;
    std::int64_t m_interfaceLookedMs = 0;
};

}  // namespace

std::string ParseServe(const std::vector<std::string>& args, ServeArguments& out)
{
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--check") {
            out.check = true;
        } else if (a == "--ledger" && hasValue) {
            out.ledger = args[++i];
        } else if (a == "--test-only-backoff-divisor" && hasValue) {
            const std::string& n = args[++i];
            if (n.empty() || n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos ||
                std::atoll(n.c_str()) < 1)
                return "--test-only-backoff-divisor needs a whole number above 0";
            out.backOffDivisor = std::atoll(n.c_str());
        } else if (a == "--seconds" || a == "--json") {
            // serve runs until it is stopped; status tells what it did.
            return "serve takes no " + a + " (it runs until stopped; tessel-cli status reads the ledger)";
        } else {
            rest.push_back(a);
        }
    }
    std::string error = ParsePlan(rest, out.plan);
    // plan's complaints, in serve's name.
    if (error.rfind("plan needs", 0) == 0) return "serve" + error.substr(4);
    if (const std::size_t at = error.find("for plan:"); at != std::string::npos) error.replace(at + 4, 4, "serve");
    return error;
}

std::string ServeInterfaceProblem(const ServeArguments& serve)
{
    const std::optional<std::string>& name = serve.plan.options.interfaceName;
    if (!name) return {};
    // What the system would never give an interface: serve would wait for
    // it for ever.
    if (name->empty() || name->size() > kInterfaceNameMax || *name == "." || *name == ".." ||
        name->find_first_of("/: \t\n") != std::string::npos)
        return "--interface " + ShownText(*name) + " cannot name an interface";
    return {};
}

std::string LedgerPlaceProblem(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return ShownText(folder) + ": " + std::strerror(errno);
    if (!S_ISDIR(info.st_mode)) return ShownText(folder) + ": not a folder";
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return ShownText(path) + ": " + std::strerror(EISDIR);
        if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
            return ShownText(path) + ": " + std::strerror(errno);
    } else if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        // The ledger is made at the first start.
        return ShownText(folder) + ": " + std::strerror(errno);
    }
    return {};
}

int CheckServePlan(const ServeArguments& serve)
{
    // What the start refuses, with the status it refuses it with.
    const PlanCheck check = CheckedPlan(serve.plan);
    if (!check.errors.empty()) {
        std::fprintf(stderr, "%stessel-cli: the plan was refused.\n", RefusedLines(check).c_str());
        return kExitRefused;
    }
    const std::string ledger = LedgerPath(serve);
    if (const std::string problem = LedgerPlaceProblem(ledger); !problem.empty()) {
        // The service's own folder (its StateDirectory) is made by the
        // service manager as the service starts: an administrator checks the
        // plan before the first start, when it is not there yet.
        const std::string folder = ledger.substr(0, ledger.rfind('/'));
        struct stat info {};
        const bool serviceMakesIt =
            serve.ledger.empty() && std::getenv("STATE_DIRECTORY") == nullptr && ::stat(folder.c_str(), &info) != 0;
        if (!serviceMakesIt) {
            std::fprintf(stderr, "tessel-cli: the ledger cannot be written: %s\n", problem.c_str());
            return kExitCantCreate;
        }
        std::printf("%s is made by the service manager when tessel-serve starts.\n", folder.c_str());
    }
    std::printf("%s: plan of %zu server%s, good.\n", serve.plan.file.c_str(), check.entries.size(),
                check.entries.size() == 1 ? "" : "s");
    if (serve.plan.options.interfaceName) {
        HeadlessOptions found = serve.plan.options;
        if (const std::string missing = ChooseInterface(found, NetworkInterfaces()); !missing.empty())
            std::printf("%s; serve waits for it.\n", missing.c_str());
    }
    return kExitOk;
}

int RunServe(const ServeArguments& serve)
{
    const service::EventLog log(stderr, service::StreamIsJournal(stderr, std::getenv("JOURNAL_STREAM")));
    const PlanCheck check = CheckedPlan(serve.plan);
    if (!check.errors.empty()) {
        log.Tell(kErr, RefusedLines(check) + "tessel-cli: the plan was refused; nothing was started.");
        return kExitRefused;
    }
    if (const std::string problem = LedgerPlaceProblem(LedgerPath(serve)); !problem.empty()) {
        log.Tell(kErr, "tessel-cli: the ledger cannot be written: " + problem);
        return kExitCantCreate;
    }
    return ServeRun(serve, check.entries).Run();
}

}  // namespace tessel::cli
