// The network helper: its request parser on every kind of malformed or
// refused request, the seam's choice between doing a step here and asking
// the helper, and the built tessel-net itself in a network namespace of
// the test's own: refusals leave it running, the port comes back bound,
// and the end of its socket removes exactly the entries it still owns.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "netd/channel.h"
#include "netd/filter_rules.h"
#include "netd/protocol.h"
#include "netd/sandbox.h"
#include "netd/privileged_steps.h"
#include "test_namespace.h"

namespace tessel {
namespace {

namespace nh = nethelper;

TEST(NetHelperRequests, WellFormedRequestsComeBackAsWritten)
{
    const char* texts[] = {
        "bind-server-port",
        "echo 192.0.2.7 4000",
        "echo 223.255.255.254 1000",
        "echo 1.0.0.1 10000",
        "add-neighbour 192.0.2.7 eth0 0a:1b:2c:01:02:fe",
        "add-neighbour 10.1.2.3 enp0s31f6.100 02:00:00:00:00:01",
        "remove-neighbour 198.51.100.200",
    };
    for (const char* text : texts) {
        const nh::Parsed parsed = nh::ParseRequest(text);
        ASSERT_TRUE(parsed.request) << text << ": " << parsed.error;
        EXPECT_EQ(nh::FormatRequest(*parsed.request), text);
    }
}

TEST(NetHelperRequests, RefusedAndMalformedRequestsAreNoRequest)
{
    const std::string tooLong = "remove-neighbour 192.0.2.7" + std::string(nh::kMaxMessage, 'x');
    const std::string texts[] = {
        // addresses refused outright, in each request that names one
        "echo 0.0.0.0 100", "echo 0.1.2.3 100", "echo 127.0.0.1 100", "echo 127.255.0.9 100", "echo 224.0.0.1 100",
        "echo 239.255.255.255 100", "echo 240.0.0.1 100", "echo 255.255.255.255 100", "remove-neighbour 127.0.0.1",
        "add-neighbour 224.0.0.5 eth0 0a:1b:2c:01:02:fe", "add-neighbour 0.0.0.9 eth0 0a:1b:2c:01:02:fe",
        // addresses that are no dotted quad
        "echo 192.0.2 100", "echo 192.0.2.256 100", "echo 192.0.02.7 100", "echo 192.0.2.7. 100", "echo 192.0.2.-7 100",
        "echo 3221225991 100", "echo 192.0.2.7x 100",
        // timeouts
        "echo 192.0.2.7 0", "echo 192.0.2.7 999", "echo 192.0.2.7 10001", "echo 192.0.2.7 0100", "echo 192.0.2.7",
        "echo 192.0.2.7 1 2",
        // interface names and hardware addresses
        "add-neighbour 192.0.2.7 ../x 0a:1b:2c:01:02:fe", "add-neighbour 192.0.2.7 eth0:1 0a:1b:2c:01:02:fe",
        "add-neighbour 192.0.2.7 abcdefghijklmnop 0a:1b:2c:01:02:fe", "add-neighbour 192.0.2.7 eth0 0a:1b:2c:01:02",
        "add-neighbour 192.0.2.7 eth0 0a-1b-2c-01-02-fe", "add-neighbour 192.0.2.7 eth0 0a:1b:2c:01:02:fg",
        "add-neighbour 192.0.2.7 eth0 ff:ff:ff:ff:ff:ff", "add-neighbour 192.0.2.7 eth0 01:00:5e:00:00:01",
        "add-neighbour 192.0.2.7 eth0 00:00:00:00:00:00", "add-neighbour 192.0.2.7 eth0",
        // spelling: one space between words, nothing before or after
        "", " bind-server-port", "bind-server-port ", "bind-server-port 68", "echo  192.0.2.7 100",
        "remove-neighbour 192.0.2.7\n", std::string("remove-neighbour 192.0.2.7\0", 27), "BIND-SERVER-PORT",
        "run /bin/sh", tooLong};
    for (const std::string& text : texts) {
        const nh::Parsed parsed = nh::ParseRequest(text);
        EXPECT_FALSE(parsed.request) << "accepted: " << text;
        EXPECT_FALSE(parsed.error.empty()) << text;
    }
}

TEST(NetHelperRequests, RepliesComeBackAsWritten)
{
    for (const nh::Reply& reply :
         {nh::Reply{nh::ReplyCode::Ok, ""}, nh::Reply{nh::ReplyCode::Refused, "no such interface"},
          nh::Reply{nh::ReplyCode::NoAnswer, ""}}) {
        const auto back = nh::ParseReply(nh::FormatReply(reply));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->code, reply.code);
        EXPECT_EQ(back->detail, reply.detail);
    }
    EXPECT_FALSE(nh::ParseReply("okay"));
    EXPECT_FALSE(nh::ParseReply(""));
}

TEST(NetHelperRequests, EachOutcomeComesBackFromItsReply)
{
    for (const NeighbourResult result : {NeighbourResult::Done, NeighbourResult::Kept, NeighbourResult::NotPermitted,
                                         NeighbourResult::Failed, NeighbourResult::Refused})
        EXPECT_EQ(nh::NeighbourResultOf(nh::ParseReply(nh::FormatReply(nh::ReplyOf(result, "why")))), result);
    for (const IcmpAnswer answer :
         {IcmpAnswer::Answered, IcmpAnswer::NoAnswer, IcmpAnswer::NotPermitted, IcmpAnswer::NotSent})
        EXPECT_EQ(nh::IcmpAnswerOf(nh::ParseReply(nh::FormatReply(nh::ReplyOf(answer)))), answer);
    for (const int error : {0, EADDRINUSE, EACCES, EIO})
        EXPECT_EQ(nh::BindErrorOf(nh::ParseReply(nh::FormatReply(nh::BindReplyOf(error)))), error);
    EXPECT_EQ(nh::BindErrorOf(nh::BindReplyOf(EPERM)), EACCES);
    EXPECT_EQ(nh::BindErrorOf(nh::BindReplyOf(ENOBUFS)), EIO);
    // No helper, no step: not permitted, never "no answer" or "in use".
    EXPECT_EQ(nh::NeighbourResultOf(std::nullopt), NeighbourResult::NotPermitted);
    EXPECT_EQ(nh::IcmpAnswerOf(std::nullopt), IcmpAnswer::NotPermitted);
    EXPECT_EQ(nh::BindErrorOf(std::nullopt), EACCES);
}

// The helper's own filter, installed in a child of the test: the calls of
// its role pass, any other ends the process with SIGSYS.
TEST(NetHelperSandbox, ACallOutsideTheListEndsTheProcess)
{
    struct Case {
        nh::Role role;
        int (*call)();
        int signal;  // 0: the child ends with status 7
    };
    const Case cases[] = {
        {nh::Role::Check, [] { return static_cast<int>(::getpid()); }, 0},
        {nh::Role::Check, [] { return ::open("/etc/passwd", O_RDONLY); }, SIGSYS},
        {nh::Role::Check, [] { return ::socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE); }, SIGSYS},
        {nh::Role::Check, [] { return ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP); }, 0},
        {nh::Role::Check, [] { return ::socket(AF_INET, SOCK_RAW, IPPROTO_UDP); }, SIGSYS},
        {nh::Role::Check, [] { return ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP); }, SIGSYS},
        {nh::Role::Table, [] { return ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE); }, 0},
        {nh::Role::Table, [] { return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP); }, 0},
        {nh::Role::Table, [] { return ::socket(AF_NETLINK, SOCK_RAW, NETLINK_NETFILTER); }, SIGSYS},
        {nh::Role::Table, [] { return ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP); }, SIGSYS},
        {nh::Role::Table, [] { return ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP); }, SIGSYS},
        {nh::Role::Table, [] { return ::socket(AF_UNIX, SOCK_STREAM, 0); }, SIGSYS},
        {nh::Role::Table, [] { return static_cast<int>(::fork()); }, SIGSYS},
        {nh::Role::Table, [] { return static_cast<int>(::getuid()); }, SIGSYS},
    };
    for (const Case& c : cases) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (!nh::InstallSystemCallFilter(c.role)) ::_exit(1);
            c.call();
            ::_exit(7);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (c.signal == 0)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << std::hex << status;
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
    }
}

// The helper loads the filter the build made: it must be the one that
// libseccomp makes from the tables now, or the tables changed unseen.
TEST(NetHelperSandbox, TheBuiltFilterIsWhatLibseccompMakesFromTheTables)
{
    for (const nh::Role role : {nh::Role::Table, nh::Role::Check}) {
        const std::optional<std::string> made = nh::MakeSystemCallFilter(role);
        ASSERT_TRUE(made) << nh::RoleName(role);
        EXPECT_EQ(nh::BuiltSystemCallFilter(role), *made) << nh::RoleName(role);
    }
}

TEST(PrivilegedSteps, TheProgramAsksTheHelperOnlyWhereItMayNotMakeTheStepItself)
{
    struct Case {
        StepFacts facts;
        StepRoute route;
    };
    const Case cases[] = {
        {{false, false, false}, StepRoute::Helper}, {{true, false, false}, StepRoute::Here},
        {{false, true, false}, StepRoute::Here},    {{false, false, true}, StepRoute::Here},
        {{true, true, true}, StepRoute::Here},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseRoute(c.facts), c.route) << c.facts.root << c.facts.permitted << c.facts.needsNoCapability;

    // A user the system may not let run the helper is told how to join
    // the group, under the command's own name.
    const std::string advice = GroupAccessAdvice("/usr/bin/tessel");
    EXPECT_EQ(advice.rfind("tessel: you may not use Tessel on this computer yet.\n", 0), 0U) << advice;
    EXPECT_NE(advice.find("\n  sudo usermod -aG tessel "), std::string::npos) << advice;

    EXPECT_TRUE(PortNeedsCapability(67, "1024"));
    EXPECT_TRUE(PortNeedsCapability(67, ""));  // unreadable: the kernel's default
    EXPECT_TRUE(PortNeedsCapability(67, "garbage"));
    EXPECT_FALSE(PortNeedsCapability(67, "0"));
    EXPECT_FALSE(PortNeedsCapability(67, "67"));
    EXPECT_TRUE(PortNeedsCapability(67, "68"));
    EXPECT_FALSE(PortNeedsCapability(6767, "1024"));
    EXPECT_FALSE(PortNeedsCapability(0, "1024"));  // an ephemeral port: the window's start-up check
}

// The built helper, started as the programs start it, with its socket.
class Helper {
public:
    Helper()
    {
        int error = 0;
        m_socket = nh::StartHelper(TESSEL_NET_HELPER_BUILT, nh::Role::Table, m_pid, error);
    }
    ~Helper() { Close(); }

    bool started() const { return m_socket >= 0; }

    std::string Ask(const std::string& text, int* fd = nullptr)
    {
        if (!nh::SendMessage(m_socket, text)) return "(not sent)";
        char buffer[256];
        const nh::Received got = nh::ReceiveMessage(m_socket, buffer, sizeof buffer);
        if (fd != nullptr)
            *fd = got.fd;
        else if (got.fd >= 0)
            ::close(got.fd);
        return got.size > 0 ? std::string(buffer, static_cast<std::size_t>(got.size)) : "(no reply)";
    }

    // Closes our end, as a parent that ends does; the helper's exit status.
    int Close()
    {
        if (m_socket >= 0) ::close(m_socket);
        m_socket = -1;
        int status = -1;
        if (m_pid > 0 && ::waitpid(m_pid, &status, 0) == m_pid) m_pid = -1;
        return status;
    }

private:
    int m_socket = -1;
    pid_t m_pid = -1;
};

// The service manager's socket of a role, as the programs meet it: a
// connection that carries messages, and the errno values the client turns
// into its states (EACCES: a user outside the group; ENOENT: no socket).
TEST(NetHelper, TheRoleSocketConnectsOrSaysWhyNot)
{
    char folder[] = "/tmp/tessel-role-socket-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    ::chmod(folder, 0755);
    const std::string path = std::string(folder) + "/table";
    const int listening = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 4), 0);
    ::chmod(path.c_str(), 0660);

    int error = 0;
    const int connected = nh::ConnectHelper(path, error);
    ASSERT_GE(connected, 0) << std::strerror(error);
    const int accepted = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    EXPECT_TRUE(nh::SendMessage(connected, "bind-server-port"));
    char buffer[64];
    const nh::Received got = nh::ReceiveMessage(accepted, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(got.size, 0))), "bind-server-port");

    const struct {
        std::string path;
        uid_t user;  // 0: as the test runs
        int expected;
    } cases[] = {
        {std::string(folder) + "/none", 0, ENOENT}, {path, 65534, EACCES},  // neither owner nor in the socket's group
    };
    for (const auto& c : cases) {
        if (c.user != 0 && ::geteuid() != 0) continue;  // only root can become another user
        const pid_t child = ::fork();
        if (child == 0) {
            if (c.user != 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(c.user, c.user, c.user) != 0 ||
                                ::setresuid(c.user, c.user, c.user) != 0))
                ::_exit(255);
            int why = 0;
            ::_exit(nh::ConnectHelper(c.path, why) >= 0 ? 0 : why);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.expected)
            << c.path << " as " << c.user << ": " << status;
    }
    ::close(accepted);
    ::close(connected);
    ::close(listening);
    ::unlink(path.c_str());
    ::rmdir(folder);
}

bool SocketOption(int fd, int level, int option)
{
    int value = 0;
    socklen_t size = sizeof value;
    return ::getsockopt(fd, level, option, &value, &size) == 0 && value != 0;
}

TEST(NetHelper, AnswersEachRequestAndRemovesItsOwnEntriesWhenItsParentGoes)
{
    tessel::testing::TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    if (ns.Exec("ip link add nb0 type veth peer name nb1") != 0 || ns.Exec("ip addr add 192.0.2.1/24 dev nb0") != 0 ||
        ns.Exec("ip link set nb0 up") != 0 || ns.Exec("ip link set nb1 up") != 0)
        GTEST_SKIP() << "needs veth links inside the test's namespace";
    // An administrator's entry, which the helper must leave alone.
    ASSERT_EQ(ns.Exec("ip neigh replace 192.0.2.31 lladdr 0a:1b:2c:00:00:01 nud permanent dev nb0"), 0);
    std::string refused, loopback, noDevice, added, kept, replacedLater, answeredAfter, bind;
    int port = -1, status = -1;
    bool broadcast = false, arrival = false, started = false;
    ASSERT_TRUE(ns.RunInside([&] {
        Helper helper;
        started = helper.started();
        if (!started) return;
        refused = helper.Ask("run /bin/sh");
        loopback = helper.Ask("echo 127.0.0.1 100");
        noDevice = helper.Ask("add-neighbour 192.0.2.30 nosuch0 0a:1b:2c:01:02:fe");
        added = helper.Ask("add-neighbour 192.0.2.30 nb0 0a:1b:2c:01:02:fe");
        kept = helper.Ask("add-neighbour 192.0.2.31 nb0 0a:1b:2c:01:02:fe");
        replacedLater = helper.Ask("add-neighbour 192.0.2.32 nb0 0a:1b:2c:01:02:fe");
        // Someone else's entry takes the place of the helper's own.
        ns.Exec("ip neigh replace 192.0.2.32 lladdr 0a:1b:2c:00:00:02 nud permanent dev nb0");
        answeredAfter = helper.Ask(std::string(300, 'x'));
        int fd = -1;
        bind = helper.Ask("bind-server-port", &fd);
        if (fd >= 0) {
            sockaddr_in local{};
            socklen_t size = sizeof local;
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0) port = ntohs(local.sin_port);
            broadcast = SocketOption(fd, SOL_SOCKET, SO_BROADCAST);
            arrival = SocketOption(fd, IPPROTO_IP, IP_PKTINFO);
            ::close(fd);
        }
        status = helper.Close();
    }));
    ASSERT_TRUE(started) << "no helper at " << TESSEL_NET_HELPER_BUILT;
    EXPECT_EQ(refused, "refused unknown request");
    EXPECT_EQ(loopback, "refused loopback address (127.0.0.0/8)");
    EXPECT_EQ(noDevice, "refused no such interface");
    EXPECT_EQ(added, "ok");
    EXPECT_EQ(kept, "kept");
    EXPECT_EQ(replacedLater, "ok");
    EXPECT_EQ(answeredAfter, "refused request too long");
    EXPECT_EQ(bind, "ok");
    EXPECT_EQ(port, 67);
    EXPECT_TRUE(broadcast);
    EXPECT_TRUE(arrival);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // Its own entry went with it; the others' stayed as they were.
    EXPECT_EQ(ns.Output("ip neigh show to 192.0.2.30"), "");
    EXPECT_NE(ns.Output("ip neigh show to 192.0.2.31").find("0a:1b:2c:00:00:01 PERMANENT"), std::string::npos);
    EXPECT_NE(ns.Output("ip neigh show to 192.0.2.32").find("0a:1b:2c:00:00:02 PERMANENT"), std::string::npos);
}

}  // namespace
}  // namespace tessel
