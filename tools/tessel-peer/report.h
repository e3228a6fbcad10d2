// The peer's output: whole lines on stdout, flushed at once, so a test that
// reads them while the peer runs sees each event as it happens. Safe to call
// from any thread; lines from two threads never interleave.
#pragma once

#include <string>

namespace peer {

void ReportLine(const std::string& line);
void ReportError(const std::string& message);  // "tessel-peer: " + message on stderr

}  // namespace peer
