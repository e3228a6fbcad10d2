#include "cli/plan_report.h"

#include <cstdio>

#include "cli/exit_status.h"
#include "cli/report.h"
#include "engine/shared_state.h"

namespace tessel::cli {

namespace {

std::string Seconds(double seconds)
{
    if (seconds < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

}  // namespace

std::string PlanOutcome(const PlanRow& row)
{
    switch (row.state) {
    case PlanRow::NotHeard:
        return "not heard";
    case PlanRow::Waiting:
        return "heard, not started";
    case PlanRow::Running:
        return "running";
    case PlanRow::Interrupted:
        if (row.stage >= StageStored) return "interrupted, stored";
        if (row.stage == StageVerified) return "interrupted, answers, not stored";
        if (row.stage >= StageReplied) return "interrupted after the reply";
        return "interrupted, nothing sent";
    case PlanRow::Ended:
        break;
    }
    switch (row.status) {
    case kExitOk:
        return "stored";
    case kExitUntilRestart:
        return "until restart";
    case kExitNotVerified:
        return "not verified";
    case kExitNoRequest:
        return "no request";
    case kExitUnconfirmed:
        return "unconfirmed";
    case kExitAlreadySet:
        return "already set";
    case kExitRefused:
        return "address in use";
    case kExitNotChecked:
        return "not checked";
    case kExitNotSent:
        return "not checked (not sent)";
    case kExitNoThread:
        return "not started (no thread)";
    default:
        return "status " + std::to_string(row.status);
    }
}

std::string PlanLine(const PlanRow& row)
{
    return row.serial + " " + row.address + " " + PlanOutcome(row) + " (" + Seconds(row.seconds) + ")";
}

std::string PlanJsonLine(const PlanRow& row)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", row.seconds < 0 ? 0.0 : row.seconds);
    const int status = row.state == PlanRow::Ended ? row.status : -1;
    return "{\"serial\":" + JsonText(row.serial) + ",\"address\":" + JsonText(row.address) +
           ",\"outcome\":" + JsonText(PlanOutcome(row)) + ",\"status\":" + std::to_string(status) +
           ",\"seconds\":" + (row.seconds < 0 ? std::string("null") : std::string(seconds)) + "}";
}

std::string PlanJsonSummary(const std::vector<PlanRow>& rows, int unlisted, int otherInterface,
                            const std::string& ended, int status)
{
    // As the table counts them: "interrupted, stored" is stored too.
    int stored = 0;
    for (const PlanRow& row : rows)
        if ((row.state == PlanRow::Ended && row.status == kExitOk) ||
            (row.state == PlanRow::Interrupted && row.stage >= StageStored))
            ++stored;
    return "{\"summary\":{\"servers\":" + std::to_string(rows.size()) + ",\"stored\":" + std::to_string(stored) +
           ",\"unlisted\":" + std::to_string(unlisted) + ",\"other_interface\":" + std::to_string(otherInterface) +
           ",\"ended\":" + JsonText(ended) + ",\"status\":" + std::to_string(status) + "}}";
}

std::string PlanTable(const std::vector<PlanRow>& rows)
{
    std::string table;
    char line[160];
    std::snprintf(line, sizeof line, "%-17s  %-15s  %-32s  %s\n", "SERIAL", "ADDRESS", "OUTCOME", "TIME");
    table += line;
    for (const PlanRow& row : rows) {
        std::snprintf(line, sizeof line, "%-17s  %-15s  %-32s  %s\n", row.serial.c_str(), row.address.c_str(),
                      PlanOutcome(row).c_str(), Seconds(row.seconds).c_str());
        table += line;
    }
    return table;
}

int PlanExitStatus(const std::vector<PlanRow>& rows)
{
    static constexpr int kWorstFirst[] = {kExitNoThread,     kExitNotChecked,  kExitNotSent,
                                          kExitRefused,      kExitNotVerified, kExitNoRequest,
                                          kExitUntilRestart, kExitUnconfirmed, kExitAlreadySet};
    bool seen[256] = {};
    // A server that never got its job did not ask in time, as set says it.
    for (const PlanRow& row : rows) seen[row.state == PlanRow::Ended ? row.status & 0xFF : kExitNoRequest] = true;
    for (const int status : kWorstFirst)
        if (seen[status]) return status;
    return kExitOk;
}

}  // namespace tessel::cli

namespace tessel::cli {

std::string PassedOverText(const PassedOverCount& count)
{
    return std::to_string(count.requests) + (count.requests == 1 ? " request" : " requests") + " from " +
           (count.moreServers ? "at least " : "") + std::to_string(count.servers) +
           (count.servers == 1 && !count.moreServers ? " server" : " servers");
}

}  // namespace tessel::cli
