// The plan of tessel-cli plan: one server a line, "SERIAL,ADDRESS". The
// whole file is checked before anything listens, so a plan either starts
// whole or not at all.
#pragma once

#include <string>
#include <vector>

#include "engine/ipaddress.h"

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

// Checks the text of a plan. Lines may end in LF or CR LF; blank lines and
// "#" comments (whole lines or after the address) are skipped, and a first
// line whose first field is not a serial number but a word (a header such
// as "serial,address") is skipped too. Fields may be quoted. Each address
// passes the refusals of set (an ending 0, 1 or 255 only when confirmed);
// a serial number or an address that stands twice is refused on its
// second line.
PlanCheck CheckPlan(const std::string& text, bool reservedEndingConfirmed);

// Reads and checks a plan file; a file that cannot be read is one error.
PlanCheck ReadPlan(const std::string& path, bool reservedEndingConfirmed);

}  // namespace tessel::cli
