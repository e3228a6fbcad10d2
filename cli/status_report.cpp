#include "cli/status_report.h"

#include <cstdio>
#include <map>

#include "cli/report.h"

namespace tessel::cli {

namespace {

struct Counts {
    int planned = 0, seen = 0, never = 0, held = 0;
};

Counts Count(const std::vector<StatusRow>& rows)
{
    Counts counts;
    for (const StatusRow& row : rows) {
        counts.planned += row.planned;
        counts.seen += row.planned && row.seen;
        counts.never += row.planned && !row.seen;
        counts.held += row.inBackOff;
    }
    return counts;
}

}  // namespace

std::vector<StatusRow> BuildStatus(const std::vector<PlanEntry>& plan, const std::vector<service::LedgerLine>& ledger,
                                   std::int64_t utcNowMs)
{
    std::map<std::string, const service::LedgerLine*> last;
    std::vector<std::string> ledgerOrder;
    for (const service::LedgerLine& line : ledger)
        if (last.insert_or_assign(line.serial, &line).second) ledgerOrder.push_back(line.serial);
    std::vector<StatusRow> rows;
    auto fill = [&](StatusRow& row) {
        const auto it = last.find(row.serial);
        if (it == last.end()) return;
        row.seen = true;
        row.last = *it->second;
        row.inBackOff = row.last.nextMs > utcNowMs;
    };
    std::map<std::string, bool> planned;
    for (const PlanEntry& entry : plan) {
        StatusRow row{entry.serial, FormatAddress(entry.address), true, false, {}, false};
        fill(row);
        planned[entry.serial] = true;
        rows.push_back(std::move(row));
    }
    for (const std::string& serial : ledgerOrder) {
        if (planned.count(serial) != 0) continue;
        StatusRow row{serial, last[serial]->address, false, false, {}, false};
        fill(row);
        row.inBackOff = false;  // serve answers no server outside the plan
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string StatusText(const std::vector<StatusRow>& rows)
{
    std::string text;
    char line[512];
    std::snprintf(line, sizeof line, "%-17s  %-15s  %-32s  %-24s  %s\n", "SERIAL", "ADDRESS", "LAST OUTCOME", "WHEN",
                  "NOT ANSWERED BEFORE");
    text += line;
    for (const StatusRow& row : rows) {
        std::string outcome = row.seen ? row.last.result : std::string("never seen");
        if (!row.planned) outcome += " (not in the plan)";
        std::snprintf(line, sizeof line, "%-17s  %-15s  %-32s  %-24s  %s\n", row.serial.c_str(), row.address.c_str(),
                      outcome.c_str(), row.seen ? service::UtcText(row.last.timeMs).c_str() : "-",
                      row.inBackOff ? service::UtcText(row.last.nextMs).c_str() : "-");
        text += line;
    }
    const Counts c = Count(rows);
    std::snprintf(line, sizeof line, "%d planned: %d seen, %d never seen, %d in back-off.\n", c.planned, c.seen,
                  c.never, c.held);
    return text + line;
}

std::string StatusJson(const std::vector<StatusRow>& rows)
{
    std::string text;
    for (const StatusRow& row : rows) {
        std::string last = "null";
        if (row.seen)
            last = "{\"time\":" + JsonText(service::UtcText(row.last.timeMs)) +
                   ",\"result\":" + JsonText(row.last.result) + ",\"stage\":" + std::to_string(row.last.stage) +
                   ",\"why\":" + JsonText(row.last.why) + "}";
        text += "{\"serial\":" + JsonText(row.serial) + ",\"address\":" + JsonText(row.address) +
                ",\"planned\":" + (row.planned ? "true" : "false") + ",\"last\":" + last + ",\"back_off_until\":" +
                (row.inBackOff ? JsonText(service::UtcText(row.last.nextMs)) : std::string("null")) + "}\n";
    }
    const Counts c = Count(rows);
    return text + "{\"summary\":{\"planned\":" + std::to_string(c.planned) + ",\"seen\":" + std::to_string(c.seen) +
           ",\"never_seen\":" + std::to_string(c.never) + ",\"in_back_off\":" + std::to_string(c.held) + "}}\n";
}

}  // namespace tessel::cli
