#include "restart.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <fstream>

#include "report.h"
#include "tcp_link.h"

extern char** environ;

namespace peer {

namespace {

const char* IpCommand()
{
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (access(path, X_OK) == 0) return path;
    }
    return nullptr;
}

// Runs `ip ARGS...` without a shell, quietly; true when it succeeded.
bool RunIp(std::vector<std::string> args)
{
    const char* ip = IpCommand();
    if (ip == nullptr) return false;
    args.insert(args.begin(), ip);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int failed = posix_spawn(&child, ip, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

RestartService::RestartService(const PeerConfig& config, const InterfaceInfo& interface, const std::atomic<bool>& stop)
    : m_config(config), m_interface(interface), m_stop(stop)
{}

RestartService::~RestartService()
{
    for (auto& thread : m_threads) thread.join();
    m_web.clear();
    m_ftp.clear();
}

bool RestartService::OnReply(const Mac& mac, const Ipv4& newAddress, const Ipv4& askedFrom)
{
    if (m_config.services.ignoreReplies) return false;
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_started[mac]) return false;
    m_started[mac] = true;
    m_restarting.store(true);
    m_threads.emplace_back([this, mac, newAddress, askedFrom] { Restart(mac, newAddress, askedFrom); });
    return true;
}

std::optional<Ipv4> RestartService::TakenAddress(const Mac& mac)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    const auto found = m_taken.find(mac);
    if (found == m_taken.end()) return std::nullopt;
    return found->second;
}

void RestartService::Restart(Mac mac, Ipv4 newAddress, Ipv4 askedFrom)
{
    const ServiceConfig& services = m_config.services;
    const auto began = std::chrono::steady_clock::now();
    if (!SleepUnlessStopped(services.restartMs, m_stop)) return;

    const std::lock_guard<std::mutex> hold(m_lock);
    const std::string interface = m_interface.name;
    const std::string address = FormatIpv4(newAddress) + "/" + std::to_string(services.prefix);
    // The old address goes first: were the new one in the same network, it
    // would be a secondary address and go away with the old primary.
    const Ipv4 none{0, 0, 0, 0};
    if (!services.keepOldAddress && askedFrom != none && askedFrom != newAddress) {
        if (!RunIp({"-4", "addr", "del", FormatIpv4(askedFrom), "dev", interface})) {
            ReportError("cannot remove " + FormatIpv4(askedFrom) + " from " + interface);
        }
    }
    // A server's serial is its MAC: the program's fallback writes a static
    // neighbour entry with it, which must lead to this interface.
    std::string hardware = FormatMac(mac);
    for (char& c : hardware) c = c == '-' ? ':' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!RunIp({"link", "set", "dev", interface, "address", hardware})) {
        ReportError("cannot give " + interface + " the hardware address " + hardware);
    }
    if (!services.icmp) {
        std::ofstream ignore("/proc/sys/net/ipv4/icmp_echo_ignore_all");
        ignore << "1\n";
        if (!ignore) ReportError("cannot switch ICMP echo answers off");
    }
    if (!RunIp({"-4", "addr", "replace", address, "dev", interface})) {
        ReportError("cannot put " + address + " on " + interface);
        return;
    }
    // On-link default route: the server answers the program even when the
    // new address lies outside the program's network on the same wire.
    if (!RunIp({"-4", "route", "replace", "default", "dev", interface})) {
        ReportError("cannot add a default route on " + interface);
    }
    m_taken[mac] = newAddress;

    std::string error;
    bool web = false;
    bool ftp = false;
    if (services.web) {
        auto service = std::make_unique<WebService>(services, newAddress, m_stop);
        web = service->Start(error);
        if (web)
            m_web.push_back(std::move(service));
        else
            ReportError(error);
    }
    if (services.ftp) {
        auto service = std::make_unique<FtpService>(services, newAddress, m_stop);
        ftp = service->Start(error);
        if (ftp)
            m_ftp.push_back(std::move(service));
        else
            ReportError(error);
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    ReportLine("RESTART mac=" + FormatMac(mac) + " address=" + address + " old=" + FormatIpv4(askedFrom) +
               " after_ms=" + std::to_string(took.count()) + " web=" + (web ? "1" : "0") + " ftp=" + (ftp ? "1" : "0"));
}

}  // namespace peer
