// The plan of tessel-cli plan: one server a line, "SERIAL,ADDRESS". The
// whole file is checked before anything listens, so a plan either starts
// whole or not at all.
#pragma once

#include <string>
#include <vector>

#include "cli/headless.h"
#include "engine/ipaddress.h"
#include "platform/hostinfo.h"

namespace tessel::cli {

struct PlanEntry {
    int line = 0;        // where it stands in the file, from 1
    std::string serial;  // as the list shows it
    Ipv4Bytes address{};
};

struct PlanCheck {
    std::vector<PlanEntry> entries;
    std::vector<std::string> errors;  // "line N: why", in file order; empty when the plan is good
};

// Checks the text of a plan. A UTF-8 byte-order mark at its start is
// skipped. Lines may end in LF or CR LF; blank lines and "#" comments (whole
// lines or after the address) are skipped, and a first line whose fields
// are all column names (a header such as "Serial Number,IP Address", any
// case) is skipped too; any other first line is a server's. Fields may be
// quoted. Each address
// passes the refusals of set (an ending 0, 1 or 255 only when confirmed);
// a serial number or an address that stands twice is refused on its
// second line.
// The network's own and broadcast addresses of `interfaces` (only the one of
// onlyInterface, when not 0) are refused outright, --yes or not.
PlanCheck CheckPlan(const std::string& text, bool reservedEndingConfirmed,
                    const std::vector<NetworkInterface>& interfaces = {}, unsigned onlyInterface = 0);

// What a plan may be read from: plan also reads a pipe (a process
// substitution); serve, which reads its plan again at every SIGHUP, only a
// regular file.
enum class PlanSource { FileOrPipe, RegularFileOnly };

// Reads and checks a plan file; a file that cannot be read is one error, and
// so is one that is neither a regular file nor a pipe (a device such as
// /dev/zero), a pipe where only a regular file is read, or one that holds
// more than 1 MiB (never more than that is read). Nothing waits for a
// writer to open a FIFO.
PlanCheck ReadPlan(const std::string& path, bool reservedEndingConfirmed,
                   const std::vector<NetworkInterface>& interfaces = {}, unsigned onlyInterface = 0,
                   PlanSource source = PlanSource::FileOrPipe);

// The lines of servers that are never heard with these options (another
// maker's serial number without --all), one error each: such a plan could
// only wait its whole time for them.
std::vector<std::string> NeverHeard(const std::vector<PlanEntry>& entries, const HeadlessOptions& options);

// Every check of a plan file before anything listens: ReadPlan's and
// NeverHeard's, the errors in the order of their lines (those of the whole
// file first).
PlanCheck CheckPlanFile(const std::string& path, bool reservedEndingConfirmed, const HeadlessOptions& options,
                        const std::vector<NetworkInterface>& interfaces);

}  // namespace tessel::cli
