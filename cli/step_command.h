// What probe and store share: one step of an assignment run by hand, for
// support. Each writes the logfile events the network thread writes around
// that step and tells the outcome in a sentence.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessel {
class CLogfile;
}

namespace tessel::cli {

struct StepArguments {
    std::string kind;     // icmp, port80, http, ftp
    std::string address;  // as set reads it, written back plainly
    std::optional<std::string> logfilePath;
};

// KIND ADDRESS [--logfile PATH], KIND one of `kinds`; the error is empty
// when they are good.
std::string ParseStep(const std::string& command, const std::vector<std::string>& args,
                      const std::vector<std::string>& kinds, StepArguments& out);

// Closes a step's logfile and says when what was written did not all reach it.
struct StepLogfileEnd {
    void operator()(CLogfile* log) const;
};
using StepLogfile = std::unique_ptr<CLogfile, StepLogfileEnd>;

// A step writes a logfile only when asked with --logfile: the default one
// may hold the support log of a failed set that is still to be sent. One
// that cannot be opened is said on stderr; the step goes on.
StepLogfile OpenStepLogfile(const StepArguments& step);

// Prints the sentence for the outcome; answers 0 or kExitNotDone.
int TellStep(bool answered, const std::string& yes, const std::string& no);

}  // namespace tessel::cli
