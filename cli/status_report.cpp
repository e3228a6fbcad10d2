#include "cli/status_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>

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

std::vector<StatusRow> BuildStatus(const std::vector<PlanEntry>& plan, const service::LedgerLatest& ledger,
                                   std::int64_t utcNowMs)
{
    std::vector<StatusRow> rows;
    auto fill = [&](StatusRow& row) {
        if (const service::LedgerLine* held = ledger.Held(row.serial)) row.stored = held->address;
        const service::LedgerLine* last = ledger.Last(row.serial);
        if (last == nullptr) return;
        row.seen = true;
        row.last = *last;
        row.inBackOff = row.planned && row.last.nextMs > utcNowMs;  // serve answers no server outside the plan
    };
    std::set<std::string> planned;
    for (const PlanEntry& entry : plan) {
        StatusRow row{entry.serial, FormatAddress(entry.address), {}, true, false, {}, false};
        fill(row);
        planned.insert(entry.serial);
        rows.push_back(std::move(row));
    }
    for (const service::LedgerLatest::Server& server : ledger.Servers()) {
        if (planned.count(server.serial) != 0) continue;
        StatusRow row{server.serial, server.lines.back().second.address, {}, false, false, {}, false};
        fill(row);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string StatusText(const std::vector<StatusRow>& rows)
{
    // Each cell as a terminal may show it; the columns as wide as their
    // widest cell.
    std::vector<std::array<std::string, 5>> cells;
    cells.push_back({"SERIAL", "ADDRESS", "LAST OUTCOME", "WHEN", "NOT ANSWERED BEFORE"});
    for (const StatusRow& row : rows) {
        std::string address = ShownText(row.address);
        if (!row.stored.empty() && row.stored != row.address) address += " (stored " + ShownText(row.stored) + ")";
        std::string outcome = row.seen ? ShownText(row.last.result) : std::string("never seen");
        if (!row.planned) outcome += " (not in the plan)";
        cells.push_back({ShownText(row.serial), address, outcome, row.seen ? service::UtcText(row.last.timeMs) : "-",
                         row.inBackOff ? service::UtcText(row.last.nextMs) : "-"});
    }
    std::array<std::size_t, 5> width{};
    for (const auto& line : cells)
        for (std::size_t i = 0; i < line.size(); ++i) width[i] = std::max(width[i], line[i].size());
    std::string text;
    for (const auto& line : cells) {
        for (std::size_t i = 0; i + 1 < line.size(); ++i)
            text += line[i] + std::string(width[i] - line[i].size() + 2, ' ');
        text += line.back() + "\n";
    }
    const Counts c = Count(rows);
    char summary[128];
    std::snprintf(summary, sizeof summary, "%d planned: %d seen, %d never seen, %d in back-off.\n", c.planned, c.seen,
                  c.never, c.held);
    return text + summary;
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
                ",\"stored_address\":" + (row.stored.empty() ? std::string("null") : JsonText(row.stored)) +
                ",\"planned\":" + (row.planned ? "true" : "false") + ",\"last\":" + last + ",\"back_off_until\":" +
                (row.inBackOff ? JsonText(service::UtcText(row.last.nextMs)) : std::string("null")) + "}\n";
    }
    const Counts c = Count(rows);
    return text + "{\"summary\":{\"planned\":" + std::to_string(c.planned) + ",\"seen\":" + std::to_string(c.seen) +
           ",\"never_seen\":" + std::to_string(c.never) + ",\"in_back_off\":" + std::to_string(c.held) + "}}\n";
}

}  // namespace tessel::cli
