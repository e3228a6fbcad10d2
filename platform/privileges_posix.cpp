#include "platform/privileges.h"

#include <unistd.h>

#include <climits>

namespace tessel {

std::string RunningProgramPath(const std::string& fallback)
{
    char path[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (size <= 0) return fallback;
    return std::string(path, static_cast<std::size_t>(size));
}

std::string CapabilitiesAdvice(const std::string& program)
{
    return std::string("Run it as root, or give the program three capabilities once (as root):\n"
                       "  setcap ") +
           kNeededCapabilities + "+ep " + program +
           "\n"
           "cap_net_bind_service: to listen on UDP port 67, where servers ask for an address;\n"
           "cap_net_raw: to send the ICMP echo request that checks whether another device has an address;\n"
           "cap_net_admin: to write a server's entry into this computer's ARP table.\n"
           "The Debian package grants them when it is installed.";
}

}  // namespace tessel
