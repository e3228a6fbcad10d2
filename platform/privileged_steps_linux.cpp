// The seam of privileged_steps.h and the client side of the network helper.
#include "platform/privileged_steps.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <memory>
#include <optional>
#include <vector>

#include "platform/net_helper_channel.h"
#include "platform/net_helper_protocol.h"
#include "platform/net_steps.h"
#include "platform/privileges.h"
#include "platform/udp_socket.h"

namespace tessel {

namespace {

namespace nh = nethelper;

// The longest wait for one answer: an echo check asks for at most 10 s;
// a helper that says nothing for longer is given up (and, told so by the
// end of its socket, removes its entries and ends).
constexpr time_t kAnswerLimitSeconds = 15;

std::string Basename(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

bool Exists(const std::string& path)
{
    return !path.empty() && ::access(path.c_str(), F_OK) == 0;
}

// One started helper and its socket; one request at a time.
class Channel {
public:
    ~Channel() { Forget(); }

    bool Running() const { return m_socket >= 0; }

    // The reply to `request`, with the descriptor that came with it in
    // `received` (or -1); nothing when the helper could not be started
    // (`state` says why) or went away. Called with the channel's lock held.
    std::optional<nh::Reply> Ask(const nh::Request& request, int* received, HelperStart& state)
    {
        if (received != nullptr) *received = -1;
        if (m_socket < 0 && !Start(state)) return std::nullopt;
        if (!nh::SendMessage(m_socket, nh::FormatRequest(request))) {
            Forget();
            return std::nullopt;
        }
        char buffer[nh::kMaxMessage + 1];
        int fd = -1;
        const ssize_t got = nh::ReceiveMessage(m_socket, buffer, sizeof buffer, fd);
        const auto reply =
            got > 0 ? nh::ParseReply(std::string_view(buffer, static_cast<std::size_t>(got))) : std::nullopt;
        if (!reply) {
            if (fd >= 0) ::close(fd);
            Forget();
            return std::nullopt;
        }
        if (received != nullptr)
            *received = fd;
        else if (fd >= 0)
            ::close(fd);
        return reply;
    }

    std::mutex lock;

private:
    bool Start(HelperStart& state)
    {
        int error = 0;
        pid_t pid = -1;
        const int socket = nh::StartHelper(NetHelperPath(), pid, error);
        if (socket < 0) {
            state = error == EACCES || error == EPERM ? HelperStart::NoAccess
                    : error == ENOENT                 ? HelperStart::Missing
                                                      : HelperStart::Failed;
            return false;
        }
        timeval limit{kAnswerLimitSeconds, 0};
        ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        m_socket = socket;
        m_pid = pid;
        state = HelperStart::Running;
        return true;
    }

    // The helper is gone or of no use: the end of its socket tells it to
    // remove its entries and end, if it still runs.
    void Forget()
    {
        if (m_socket >= 0) ::close(m_socket);
        m_socket = -1;
        if (m_pid > 0) ::waitpid(m_pid, nullptr, WNOHANG);
        m_pid = -1;
    }

    int m_socket = -1;
    pid_t m_pid = -1;
};

// The helpers of this process. The port and the neighbour table go to one
// helper, which keeps the record of its entries; echo checks, which wait
// up to seconds for an answer, go to helpers of their own, one per check
// running at the same time, so that they never hold up the network thread's
// table changes nor each other.
class HelperClient {
public:
    static HelperClient& Instance()
    {
        static HelperClient client;
        return client;
    }

    HelperStart State()
    {
        std::lock_guard lock(m_stateLock);
        return m_state;
    }

    bool TableHelperRunning()
    {
        std::lock_guard lock(m_table.lock);
        return m_table.Running();
    }

    std::optional<nh::Reply> Ask(const nh::Request& request, int* received = nullptr)
    {
        const bool echo = request.kind == nh::RequestKind::Echo;
        Channel& channel = echo ? IdleEchoChannel() : m_table;
        // An echo channel comes locked.
        std::unique_lock lock = echo ? std::unique_lock(channel.lock, std::adopt_lock) : std::unique_lock(channel.lock);
        HelperStart state = HelperStart::Running;
        auto reply = channel.Ask(request, received, state);
        if (!reply) {
            std::lock_guard stateLock(m_stateLock);
            m_state = state == HelperStart::Running ? HelperStart::Failed : state;
        } else {
            std::lock_guard stateLock(m_stateLock);
            m_state = HelperStart::Running;
        }
        return reply;
    }

private:
    HelperClient() = default;

    // An echo channel that no check uses, locked; a new one where all are busy.
    Channel& IdleEchoChannel()
    {
        std::lock_guard lock(m_poolLock);
        for (const auto& channel : m_echo)
            if (channel->lock.try_lock()) return *channel;
        m_echo.push_back(std::make_unique<Channel>());
        m_echo.back()->lock.lock();
        return *m_echo.back();
    }

    Channel m_table;
    std::mutex m_poolLock;
    std::vector<std::unique_ptr<Channel>> m_echo;
    std::mutex m_stateLock;
    HelperStart m_state = HelperStart::NotTried;
};

StepFacts FactsFor(NetworkRight right, bool needsNoCapability)
{
    return StepFacts{::geteuid() == 0, RightPermitted(right), needsNoCapability};
}

std::string ReadFirstLine(const char* path, const char* otherwise)
{
    std::ifstream file(path);
    std::string line;
    return std::getline(file, line) ? line : otherwise;
}

}  // namespace

StepRoute ChooseRoute(const StepFacts& facts)
{
    return facts.root || facts.permitted || facts.needsNoCapability ? StepRoute::Here : StepRoute::Helper;
}

bool PortNeedsCapability(std::uint16_t port, std::string_view unprivilegedPortStart)
{
    long start = 1024;
    if (!unprivilegedPortStart.empty()) {
        const std::string text(unprivilegedPortStart);
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        if (end != text.c_str() && value >= 0 && value <= 65536) start = value;
    }
    return port != 0 && port < start;  // port 0: an ephemeral port, free to all
}

HelperStart NetHelperState()
{
    return HelperClient::Instance().State();
}

std::string NetHelperPath()
{
    const std::string self = RunningProgramPath("");
    if (!self.empty()) {
        const std::string beside = self.substr(0, self.rfind('/') + 1) + "tessel-net";
        if (Exists(beside)) return beside;
        if (self.rfind(TESSEL_BUILD_TREE "/", 0) == 0 && Exists(TESSEL_NET_HELPER_BUILT))
            return TESSEL_NET_HELPER_BUILT;
    }
    return TESSEL_NET_HELPER_INSTALLED;
}

std::string GroupAccessAdvice(const std::string& program)
{
    const passwd* account = ::getpwuid(::getuid());
    const std::string user = account != nullptr ? account->pw_name : "USER";
    bool listed = false;
    if (const group* entry = ::getgrnam("tessel"); entry != nullptr)
        for (char** member = entry->gr_mem; member != nullptr && *member != nullptr; ++member)
            listed = listed || user == *member;
    std::string text = Basename(program) + ": you may not use Tessel on this computer yet.\n";
    text +=
        "Tessel gives print servers their addresses with network rights that only root and\n"
        "the members of the group tessel have here.\n";
    if (listed)
        return text +
               "You are a member of the group tessel, but this session began before you were added:\n"
               "log out and log in again.";
    return text + "An administrator gives you access with\n  sudo usermod -aG tessel " + user +
           "\nand you then log out and log in again.";
}

std::string CapabilitiesAdvice(const std::string& program)
{
    switch (NetHelperState()) {
    case HelperStart::NoAccess:
        return GroupAccessAdvice(program);
    case HelperStart::Missing:
        return "The network helper " + NetHelperPath() + " is missing: reinstall Tessel.";
    default:
        break;
    }
    const std::string helper = NetHelperPath();
    return std::string(
               "Run it as root, or give its network helper three capabilities once (as root):\n"
               "  setcap ") +
           kNeededCapabilities + "+p " + helper +
           "\n"
           "cap_net_bind_service: to listen on UDP port 67, where servers ask for an address;\n"
           "cap_net_raw: to send the ICMP echo request that checks whether another device has an address;\n"
           "cap_net_admin: to write a server's entry into this computer's ARP table.\n"
           "The Debian package grants them to the members of the group tessel (dpkg-reconfigure tessel).";
}

namespace udp {

BindResult Bind(Handle socket, std::uint16_t port)
{
    const int fd = static_cast<int>(socket);
    const bool free = !PortNeedsCapability(port, ReadFirstLine("/proc/sys/net/ipv4/ip_unprivileged_port_start", ""));
    int error = 0;
    if (ChooseRoute(FactsFor(NetworkRight::BindPort, free)) == StepRoute::Here) {
        error = here::BindToPort(fd, port);
    } else if (port != 67) {
        error = EACCES;  // the helper binds the server port only
    } else {
        int bound = -1;
        const auto reply = HelperClient::Instance().Ask(nh::MakeRequest(nh::RequestKind::BindServerPort), &bound);
        if (reply && reply->code == nh::ReplyCode::Ok && bound >= 0) {
            // The helper's socket takes the place of the caller's, which
            // keeps its number: broadcast and arrival interface are on.
            error = ::dup3(bound, fd, O_CLOEXEC) < 0 ? errno : 0;
            ::close(bound);
        } else {
            if (bound >= 0) ::close(bound);
            error = !reply                                       ? EACCES
                    : reply->code == nh::ReplyCode::InUse        ? EADDRINUSE
                    : reply->code == nh::ReplyCode::NotPermitted ? EACCES
                                                                 : EIO;
        }
    }
    switch (error) {
    case 0:
        return BindResult::Ok;
    case EADDRINUSE:
        return BindResult::InUse;
    case EACCES:
    case EPERM:
        return BindResult::NotPermitted;
    default:
        return BindResult::OtherError;
    }
}

}  // namespace udp

IcmpAnswer IcmpEcho(const std::string& address, int timeoutMs, IcmpSocketKind kind)
{
    // The other kinds are for tests of each road.
    if (kind != IcmpSocketKind::Automatic) return here::IcmpEcho(address, timeoutMs, kind);
    if (ChooseRoute(FactsFor(NetworkRight::RawSocket, false)) == StepRoute::Here)
        return here::IcmpEcho(address, timeoutMs, kind);
    // A ping socket, where net.ipv4.ping_group_range lets this user have one.
    const IcmpAnswer own = here::IcmpEcho(address, timeoutMs, IcmpSocketKind::Datagram);
    if (own != IcmpAnswer::NotPermitted) return own;
    const auto target = nh::ParseAddress(address);
    if (!target || !nh::RefusedAddress(*target).empty()) return IcmpAnswer::NotSent;
    nh::Request request = nh::MakeRequest(nh::RequestKind::Echo, *target);
    request.timeoutMs = std::clamp(timeoutMs, 1, nh::kMaxEchoTimeoutMs);
    const auto reply = HelperClient::Instance().Ask(request);
    if (!reply) return IcmpAnswer::NotPermitted;
    switch (reply->code) {
    case nh::ReplyCode::Answered:
        return IcmpAnswer::Answered;
    case nh::ReplyCode::NoAnswer:
        return IcmpAnswer::NoAnswer;
    case nh::ReplyCode::NotPermitted:
        return IcmpAnswer::NotPermitted;
    default:
        return IcmpAnswer::NotSent;
    }
}

namespace {

NeighbourResult FromReply(const std::optional<nh::Reply>& reply)
{
    if (!reply) return NeighbourResult::NotPermitted;
    switch (reply->code) {
    case nh::ReplyCode::Ok:
        return NeighbourResult::Done;
    case nh::ReplyCode::Kept:
        return NeighbourResult::Kept;
    case nh::ReplyCode::NotPermitted:
        return NeighbourResult::NotPermitted;
    default:
        return NeighbourResult::Failed;
    }
}

bool NeighbourHere()
{
    return ChooseRoute(FactsFor(NetworkRight::NeighbourTable, false)) == StepRoute::Here;
}

}  // namespace

NeighbourResult AddOwnNeighbour(const std::string& address, const std::array<std::uint8_t, 6>& hardware,
                                const std::string& device)
{
    if (NeighbourHere()) return here::AddOwnNeighbour(address, hardware, device);
    const auto target = nh::ParseAddress(address);
    if (!target) return NeighbourResult::Failed;
    nh::Request request = nh::MakeRequest(nh::RequestKind::AddNeighbour, *target);
    request.device = device;
    request.hardware = hardware;
    return FromReply(HelperClient::Instance().Ask(request));
}

NeighbourResult RemoveOwnNeighbours(const std::string& address)
{
    if (NeighbourHere()) return here::RemoveOwnNeighbours(address);
    const auto target = nh::ParseAddress(address);
    if (!target) return NeighbourResult::Failed;
    if (!nh::RefusedAddress(*target).empty()) return NeighbourResult::Done;  // never one of the helper's
    // Every entry of ours is the helper's; with no helper there is none.
    if (!HelperClient::Instance().TableHelperRunning()) return NeighbourResult::Done;
    return FromReply(HelperClient::Instance().Ask(nh::MakeRequest(nh::RequestKind::RemoveNeighbour, *target)));
}

}  // namespace tessel
