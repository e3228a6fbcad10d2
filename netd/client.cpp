// The seam of privileged_steps.h and the client side of the network helper.
#include "netd/privileged_steps.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "netd/channel.h"
#include "netd/protocol.h"
#include "platform/icmp.h"
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

bool Exists(const std::string& path)
{
    return !path.empty() && ::access(path.c_str(), F_OK) == 0;
}

// One started helper and its socket; one request at a time.
class Channel {
public:
    explicit Channel(nh::Role role) : m_role(role) {}
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
        const nh::Received got = nh::ReceiveMessage(m_socket, buffer, sizeof buffer);
        const int fd = got.fd;
        const auto reply = got.size > 0 && !got.otherControl
                               ? nh::ParseReply(std::string_view(buffer, static_cast<std::size_t>(got.size)))
                               : std::nullopt;
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
        // Where the service manager offers the role's helper, it starts it
        // with the role's capabilities, and this process needs none of its
        // own nor a helper file that holds them; elsewhere the program
        // starts the helper, which holds them as file capabilities.
        const std::string offered = nh::RoleSocketPath(m_role);
        const int socket =
            Exists(offered) ? nh::ConnectHelper(offered, error) : nh::StartHelper(NetHelperPath(), m_role, pid, error);
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

    nh::Role m_role;
    int m_socket = -1;
    pid_t m_pid = -1;
};

// The helpers of this process. The port and the neighbour table go to one
// helper, which keeps the record of its entries; echo checks, which wait
// up to seconds for an answer, go to helpers of their own, so that they
// never hold up the network thread's table changes nor each other: one per
// check running at the same time, and never more than the jobs running
// (EchoHelperAllowance); a check beyond that waits for one to be free.
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
        {
            std::lock_guard stateLock(m_stateLock);
            m_state = reply ? HelperStart::Running : state == HelperStart::Running ? HelperStart::Failed : state;
        }
        if (echo) {
            lock.unlock();
            ReleaseEchoChannel();
        }
        return reply;
    }

    void Allow(int change)
    {
        {
            std::lock_guard lock(m_poolLock);
            m_allowed += change;
            // Helpers beyond what the jobs still running may use end now.
            for (auto it = m_echo.begin(); it != m_echo.end() && m_echo.size() > Allowed();) {
                if ((*it)->lock.try_lock()) {
                    (*it)->lock.unlock();
                    it = m_echo.erase(it);
                } else {
                    ++it;
                }
            }
        }
        m_freed.notify_all();
    }

private:
    HelperClient() = default;

    std::size_t Allowed() const { return static_cast<std::size_t>(std::max(1, m_allowed)); }

    // An echo channel that no check uses, locked: an idle one, a new one
    // while fewer than allowed run, else the first to be free.
    Channel& IdleEchoChannel()
    {
        std::unique_lock lock(m_poolLock);
        for (;;) {
            for (const auto& channel : m_echo)
                if (channel->lock.try_lock()) return *channel;
            if (m_echo.size() < Allowed()) break;
            m_freed.wait(lock);
        }
        m_echo.push_back(std::make_unique<Channel>(nh::Role::Check));
        m_echo.back()->lock.lock();
        return *m_echo.back();
    }

    void ReleaseEchoChannel()
    {
        {
            std::lock_guard lock(m_poolLock);
        }
        m_freed.notify_one();
    }

    Channel m_table{nh::Role::Table};
    std::mutex m_poolLock;
    std::condition_variable m_freed;
    std::vector<std::unique_ptr<Channel>> m_echo;
    int m_allowed = 0;
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

EchoHelperAllowance::EchoHelperAllowance()
{
    HelperClient::Instance().Allow(1);
}

EchoHelperAllowance::~EchoHelperAllowance()
{
    HelperClient::Instance().Allow(-1);
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
        error = nh::BindErrorOf(reply);
        if (error == 0 && bound < 0) error = EIO;
        // The helper's socket takes the place of the caller's, which keeps
        // its number: broadcast and arrival interface are on.
        if (error == 0) error = ::dup3(bound, fd, O_CLOEXEC) < 0 ? errno : 0;
        if (bound >= 0) ::close(bound);
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
    request.timeoutMs = std::clamp(timeoutMs, nh::kMinEchoTimeoutMs, nh::kMaxEchoTimeoutMs);
    return nh::IcmpAnswerOf(HelperClient::Instance().Ask(request));
}

namespace {

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
    return nh::NeighbourResultOf(HelperClient::Instance().Ask(request));
}

NeighbourResult RemoveOwnNeighbours(const std::string& address)
{
    if (NeighbourHere()) return here::RemoveOwnNeighbours(address);
    const auto target = nh::ParseAddress(address);
    if (!target) return NeighbourResult::Failed;
    if (!nh::RefusedAddress(*target).empty()) return NeighbourResult::Done;  // never one of the helper's
    // Every entry of ours is the helper's; with no helper there is none.
    if (!HelperClient::Instance().TableHelperRunning()) return NeighbourResult::Done;
    return nh::NeighbourResultOf(
        HelperClient::Instance().Ask(nh::MakeRequest(nh::RequestKind::RemoveNeighbour, *target)));
}

}  // namespace tessel
