// tessel-cli probe and store: one step of an assignment run by hand, for
// support. Each writes the logfile events the network thread writes around
// that step and tells the outcome in a sentence.
#pragma once

#include <string>
#include <vector>

namespace tessel::cli {

// probe icmp|port80 ADDRESS [--logfile PATH]
int Probe(const std::vector<std::string>& args);
// store http|ftp ADDRESS [--logfile PATH]
int Store(const std::vector<std::string>& args);

}  // namespace tessel::cli
