// tessel-cli store: make a server keep an address, by its web form or FTP.
#include <memory>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/step_command.h"
#include "engine/assignment_procedure.h"
#include "engine/shared_state.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "platform/internet_session.h"
#include "resources/texts.h"
#include "workers/hand_over.h"

namespace tessel::cli {

namespace {

int RunStore(const std::vector<std::string>& args)
{
    StepArguments step;
    if (const std::string error = ParseStep("store", args, {"http", "ftp"}, step); !error.empty())
        return UsageError("store", error);
    auto log = OpenStepLogfile(step);
    auto session = std::make_shared<InternetSession>(ApplicationName(TextOf(IDS_PROGRAM_TITLE)));
    if (step.kind == "http") {
        const bool stored =
            StoreByWebForm(NetworkWorkers(), step.address, step.address, session, RealClock(), log.get());
        return TellStep(stored, step.address + " stored the address through its web form.",
                        step.address + " did not confirm the web form within 2.8 s.");
    }
    // As after a verified assignment: the store raises the stage to 5.
    SharedState shared;
    shared.logFile = log.get();
    shared.stage.store(StageVerified);
    NetworkWorkers().StoreOverFtp(step.address, session, shared);
    return TellStep(shared.stage.load() == StageStored,
                    step.address + " stored the address in its FTP configuration file.",
                    step.address + " did not take the address over FTP (the logfile says at which step).");
}

}  // namespace

extern const Command kStoreCommand = {
    "store",
    "  store http|ftp ADDRESS [--logfile PATH]\n",
    "        Make a server keep ADDRESS: its web form (2.8 s) or its FTP\n"
    "        configuration file. Writes a logfile only with --logfile.\n",
    false,
    RunStore,
};

}  // namespace tessel::cli
