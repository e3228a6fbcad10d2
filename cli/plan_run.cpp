#include "cli/plan_run.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>

#include "cli/exit_status.h"
#include "cli/headless.h"
#include "cli/plan_file.h"
#include "cli/plan_report.h"
#include "cli/report.h"
#include "engine/shared_state.h"
#include "platform/clock.h"
#include "platform/interrupt.h"

namespace tessel::cli {

namespace {

// How often the run looks at its jobs while nothing is heard.
constexpr std::int64_t kLookMs = 100;

class PlanRun {
public:
    PlanRun(const PlanArguments& args, std::vector<PlanEntry> entries, JobThreadStart start)
        : m_args(args), m_start(std::move(start))
    {
        for (const PlanEntry& entry : entries) {
            m_index[entry.serial] = m_rows.size();
            m_rows.push_back({entry.serial, FormatAddress(entry.address)});
            m_entries.push_back(entry);
        }
    }

    int Run()
    {
        HeadlessOptions options = m_args.options;
        options.severalJobs = true;
        // Servers not in the plan cost a count, not a row and a pause each.
        options.answeredServers.emplace();
        for (const PlanRow& row : m_rows) options.answeredServers->push_back(row.serial);
        Headless headless(options);
        m_engine = &headless.Engine();
        if (!headless.StartListening()) return kExitPortUnavailable;
        JobPool pool(*headless.Engine().Jobs(), m_args.confirm, m_args.unchecked, m_start);
        m_pool = &pool;
        std::fprintf(
            stderr,
            "%s\nPlan of %zu server%s from %s, up to %d at once. Listening for up to %d s once the start-up note "
            "has ended (about 9 s); restart the servers (power them off and on) so that they ask for an address.\n",
            FilterDescription(m_args.options).c_str(), m_rows.size(), m_rows.size() == 1 ? "" : "s",
            ShownText(m_args.file).c_str(), m_args.parallel, m_args.seconds);
        headless.HearFor(m_args.seconds);
        std::string ended = "done";
        for (;;) {
            TellPassedOverNamed();
            CollectFinished();
            const bool timeUp = headless.HearingLeftMs() <= 0;
            // --seconds bounds the hearing only: a server heard in time gets
            // its job once a slot is free, however late that is.
            StartWaiting();
            if (pool.Running() == 0 && m_waiting.empty() && (timeUp || AllEnded())) {
                if (!AllEnded()) ended = "time limit";
                break;
            }
            const HeadlessEvent event = headless.Next(kLookMs);
            if (event.kind == HeadlessEvent::Listed) {
                if (headless.HearingLeftMs() > 0) Heard(event.serial, event.address);
            } else if (event.kind == HeadlessEvent::NetworkFailed) {
                std::fprintf(stderr, "tessel-cli: %s\n", headless.NetworkFailure().c_str());
                StopJobs(headless);
                return kExitPortUnavailable;
            } else if (event.kind == HeadlessEvent::Interrupted) {
                return EndInterrupted(headless);
            }
        }
        const int status = PlanExitStatus(m_rows);
        m_other = headless.OtherInterfaceRequests();
        return Finish(headless, status, kEngineStopWaitMs, [&] { TellEnd(ended, status); });
    }

private:
    bool AllEnded() const
    {
        return std::all_of(m_rows.begin(), m_rows.end(), [](const PlanRow& r) { return r.state == PlanRow::Ended; });
    }

    void Heard(const std::string& serial, const std::string& address)
    {
        const auto it = m_index.find(serial);
        if (it == m_index.end()) return;  // the engine passes over servers not in the plan
        std::fprintf(stderr, "heard %s %s\n", serial.c_str(), address.c_str());
        PlanRow& row = m_rows[it->second];
        if (row.state != PlanRow::NotHeard) return;
        row.state = PlanRow::Waiting;
        m_heardAddress[it->second] = address;
        m_waiting.push_back(it->second);
    }

    // The first servers not in the plan, told as heard once each; the rest
    // are counted for the end of the run.
    void TellPassedOverNamed()
    {
        for (const PassedOverServer& server : m_engine->TakePassedOverNamed()) {
            std::fprintf(stderr, "heard %s %s (not in the plan)\n", server.serial.c_str(), server.address.c_str());
            if (++m_named == kPassedOverNamedAtMost)
                std::fprintf(stderr, "tessel-cli: further servers not in the plan are counted, not told.\n");
        }
    }

    void StartWaiting()
    {
        // After Ctrl+C no job starts, even before the run has seen it.
        while (!m_waiting.empty() && static_cast<int>(m_pool->Running()) < m_args.parallel &&
               InterruptRequested() == 0) {
            const std::size_t index = m_waiting.front();
            m_waiting.pop_front();
            PlanRow& row = m_rows[index];
            row.state = PlanRow::Running;
            const std::string refused = m_pool->Start(index, m_entries[index], m_heardAddress[index]);
            if (!refused.empty()) {
                // No thread to be had (a thread limit): this job ends as
                // failed, with its line; the others go on.
                std::fprintf(stderr, "tessel-cli: the job of %s could not be started: %s\n", row.serial.c_str(),
                             refused.c_str());
                row.seconds = 0.0;
                End(row, kExitNoThread);
            }
        }
    }

    // The row's end and its line.
    void End(PlanRow& row, int status)
    {
        row.state = PlanRow::Ended;
        row.status = status;
        std::printf("%s\n", (m_args.json ? PlanJsonLine(row) : PlanLine(row)).c_str());
        std::fflush(stdout);
    }

    // Prints the lines of the jobs that have ended.
    void CollectFinished()
    {
        for (const JobEnd& done : m_pool->Collect()) {
            PlanRow& row = m_rows[done.key];
            row.seconds = done.seconds;
            if (done.interrupted) {
                row.state = PlanRow::Interrupted;
                row.stage = std::max(row.stage, done.highestStage);
            } else {
                End(row, done.exit.status);
            }
        }
    }

    // Every running job stopped, its highest stage kept, its thread joined.
    void StopJobs(Headless& headless)
    {
        for (const auto& [index, stage] : m_pool->RequestStop())
            m_rows[index].stage = std::max(m_rows[index].stage, stage);
        headless.Engine().RequestStop();
        // A job's clock leaves the command at its next 50-ms slice once the
        // interrupt arrived; without one, the stopped stage ends it within
        // the command's own deadlines.
        while (m_pool->Running() > 0) {
            m_pool->WaitForEnd(kLookMs);
            CollectFinished();
        }
    }

    int EndInterrupted(Headless& headless)
    {
        StopJobs(headless);
        bool replied = false;
        for (const PlanRow& row : m_rows)
            replied = replied || (row.state == PlanRow::Interrupted && row.stage >= StageReplied);
        if (!m_args.json) std::fprintf(stdout, "\n");
        if (replied) std::fprintf(stderr, "tessel-cli: interrupted; letting the jobs reach a safe step...\n");
        const int status = InterruptExitStatus();
        m_other = headless.OtherInterfaceRequests();
        return Finish(headless, status, replied ? kSafeStepWaitMs : kEngineStopWaitMs, [&] {
            for (const PlanRow& row : m_rows)
                if (row.state == PlanRow::Interrupted)
                    std::fprintf(stderr, "%s\n", InterruptedStateLine(row.stage, row.serial, row.address).c_str());
            TellEnd("interrupted", status);
        });
    }

    void TellEnd(const std::string& ended, int status)
    {
        // The thread has stopped: the count of the whole run is complete.
        TellPassedOverNamed();
        const PassedOverCount passedOver = m_engine->TakePassedOver();
        m_unlisted = static_cast<int>(passedOver.servers);
        if (m_args.json) {
            // Every planned server has its object: those whose job did not
            // end (not heard, not started, interrupted) get theirs now.
            for (const PlanRow& row : m_rows)
                if (row.state != PlanRow::Ended) std::printf("%s\n", PlanJsonLine(row).c_str());
            std::printf("%s\n", PlanJsonSummary(m_rows, m_unlisted, m_other, ended, status).c_str());
            std::fputs(PlanTable(m_rows).c_str(), stderr);
        } else {
            std::printf("\n%s", PlanTable(m_rows).c_str());
            std::fflush(stdout);
            // The reader went away (a closed pipe): the table still tells
            // where each server stands.
            if (std::ferror(stdout)) std::fprintf(stderr, "\n%s", PlanTable(m_rows).c_str());
        }
        std::fprintf(stderr, "%s not in the plan; none answered.\n", PassedOverText(passedOver).c_str());
        if (m_args.options.interfaceName) std::fprintf(stderr, "%s\n", OtherInterfaceLine(m_other).c_str());
        std::fflush(nullptr);
    }

    const PlanArguments& m_args;
    JobThreadStart m_start;
    std::vector<PlanEntry> m_entries;
    std::vector<PlanRow> m_rows;
    std::map<std::string, std::size_t> m_index;
    std::map<std::size_t, std::string> m_heardAddress;
    std::deque<std::size_t> m_waiting;
    JobPool* m_pool = nullptr;       // the run's, while it runs
    EngineHost* m_engine = nullptr;  // the run's, while it runs
    std::size_t m_named = 0;         // servers not in the plan told by name
    int m_unlisted = 0;              // servers not in the plan (at least, beyond the exact count)
    int m_other = 0;                 // requests on other interfaces than --interface's
};

}  // namespace

int RunPlan(const PlanArguments& plan, JobThreadStart start)
{
    const PlanCheck check = CheckPlanFile(plan.file, plan.confirm, plan.options, NetworkInterfaces());
    if (!check.errors.empty()) {
        for (const std::string& error : check.errors) std::fprintf(stderr, "tessel-cli: %s\n", error.c_str());
        std::fprintf(stderr, "tessel-cli: the plan was refused; nothing was started.\n");
        return kExitRefused;
    }
    return PlanRun(plan, check.entries, std::move(start)).Run();
}

}  // namespace tessel::cli
