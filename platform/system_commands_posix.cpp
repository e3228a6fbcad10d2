#include "platform/system_commands.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <system_error>
#include <thread>

#include "platform/neighbour_table.h"

extern char** environ;

namespace tessel {

namespace {

class PosixCommands final : public SystemCommands {
public:
    bool DeleteNeighbour(const std::string& address) override
    {
        return RemoveOwnNeighbours(address) == NeighbourResult::Done;
    }

    bool SetStaticNeighbour(const std::string& address, const std::string& serial,
                            const std::string& hostAddress) override
    {
        const auto hardware = SerialToHardwareAddress(serial);
        const std::string device = InterfaceOfAddress(hostAddress);
        // Without this computer's address there is no interface to name.
        if (!hardware || device.empty()) return false;
        return AddOwnNeighbour(address, *hardware, device) == NeighbourResult::Done;
    }

    void PingOnce(const std::string& address) override { StartHidden({"ping", "-c", "1", "-W", "1", address}); }

    void PingBroadcast(const std::string& address) override
    {
        StartHidden({"ping", "-b", "-c", "1", "-W", "1", address});
    }
};

}  // namespace

SystemCommands& HiddenCommands()
{
    static PosixCommands commands;
    return commands;
}

bool StartHidden(const std::vector<std::string>& argv)
{
    if (argv.empty()) return false;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The command starts with the normal signal mask and dispositions,
    // whatever the calling thread blocks or catches.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    // Nobody waits for the command, but it must not stay a zombie.
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        }).detach();
    } catch (const std::system_error&) {
        // Without a reaper thread the child is reaped at the program's end.
    }
    return true;
}

std::optional<std::array<std::uint8_t, 6>> SerialToHardwareAddress(const std::string& serial)
{
    if (serial.size() != 17) return std::nullopt;
    std::array<std::uint8_t, 6> out{};
    for (std::size_t i = 0; i < serial.size(); ++i) {
        const char c = serial[i];
        if (i % 3 == 2) {
            if (c != '-' && c != ':') return std::nullopt;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        out[i / 3] = static_cast<std::uint8_t>(out[i / 3] << 4 | digit);
    }
    return out;
}

std::string InterfaceOfAddress(const std::string& address)
{
    in_addr wanted{};
    if (inet_pton(AF_INET, address.c_str(), &wanted) != 1) return {};
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::string name;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
        if (reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr == wanted.s_addr) {
            name = it->ifa_name;
            break;
        }
    }
    freeifaddrs(list);
    return name;
}

}  // namespace tessel
