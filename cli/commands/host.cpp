// tessel-cli host: this computer's name and the address it gives servers.
#include <cstdio>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "platform/hostinfo.h"

namespace tessel::cli {

namespace {

int RunHost(const std::vector<std::string>& args)
{
    if (!args.empty()) return UsageError("host", "host takes no arguments");
    const std::string address = FirstIpv4Address();
    std::printf("host name: %s\naddress:   %s\n", LocalHostName().c_str(),
                address.empty() ? "(none found)" : address.c_str());
    return kExitOk;
}

}  // namespace

extern const Command kHostCommand = {
    "host", "  host\n", "        Show this computer's name and the address it gives servers.\n", false, RunHost,
};

}  // namespace tessel::cli
