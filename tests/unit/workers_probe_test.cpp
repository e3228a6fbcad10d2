// The ICMP echo probe and the port probe on loopback, and the ICMP cases
// that need a network of their own (no answer, the datagram socket) inside
// a network namespace that the test makes and removes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/icmp.h"
#include "workers/icmp_probe.h"
#include "workers/port_probe.h"
#include "test_namespace.h"
#include "workers_test_support.h"

namespace tessel {
namespace {

bool CanUseRawSockets()
{
    const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

using tessel::testing::TestNamespace;

TEST(IcmpEcho, LoopbackAnswersThroughARawSocket)
{
    if (!CanUseRawSockets()) GTEST_SKIP() << "needs CAP_NET_RAW for a raw ICMP socket";
    EXPECT_EQ(IcmpEcho("127.0.0.1", 4000, IcmpSocketKind::Raw), IcmpAnswer::Answered);
    // Whatever this machine permits, the automatic choice finds a way.
    EXPECT_EQ(IcmpEcho("127.0.0.1", 4000), IcmpAnswer::Answered);
}

TEST(IcmpEcho, TextThatIsNoAddressIsNotProbed)
{
    for (const char* text : {"not an address", "", "10.0.0"})
        EXPECT_EQ(IcmpEcho(text, 4000), IcmpAnswer::NotSent) << text;
}

TEST(IcmpEcho, TheDatagramSocketWhereTheSystemPermitsIt)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    // New namespaces permit ping sockets to no group: the datagram socket
    // cannot be opened, which is told as such; the automatic choice falls
    // back to a raw socket.
    IcmpAnswer refused{}, automatic{}, permitted{};
    ASSERT_TRUE(ns.RunInside([&] {
        refused = IcmpEcho("127.0.0.1", 4000, IcmpSocketKind::Datagram);
        automatic = IcmpEcho("127.0.0.1", 4000);
    }));
    ASSERT_EQ(ns.Exec("sysctl -w net.ipv4.ping_group_range='0 2147483647'"), 0);
    ASSERT_TRUE(ns.RunInside([&] { permitted = IcmpEcho("127.0.0.1", 4000, IcmpSocketKind::Datagram); }));
    EXPECT_EQ(refused, IcmpAnswer::NotPermitted);
    EXPECT_EQ(automatic, IcmpAnswer::Answered);
    EXPECT_EQ(permitted, IcmpAnswer::Answered);
}

TEST(IcmpEcho, WithoutPermissionTheCheckIsNotMadeAndSaysSo)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    // No ping sockets for anyone, no cap_net_raw: as an ordinary user where
    // the program's file capabilities were lost. An address that answers
    // must not come out as "no answer".
    auto request = std::make_shared<ProbeRequest>("127.0.0.1");
    IcmpAnswer direct{}, withPingSockets{};
    bool dropped = false;
    ASSERT_TRUE(ns.RunInside([&] {
        dropped = tessel::testing::DropCapabilities({CAP_NET_RAW});
        direct = IcmpEcho("127.0.0.1", 4000);
        IcmpProbeThread(request);
    }));
    ASSERT_TRUE(dropped);
    ASSERT_EQ(ns.Exec("sysctl -w net.ipv4.ping_group_range='0 2147483647'"), 0);
    ASSERT_TRUE(ns.RunInside([&] {
        tessel::testing::DropCapabilities({CAP_NET_RAW});
        withPingSockets = IcmpEcho("127.0.0.1", 4000);
    }));
    EXPECT_EQ(direct, IcmpAnswer::NotPermitted);
    request->Abandon();
    EXPECT_EQ(request->result.load(), 0);
    EXPECT_EQ(ProbeAnswer(*request), IcmpAnswer::NotPermitted);
    // Where the system lets the group use ping sockets, no capability is needed.
    EXPECT_EQ(withPingSockets, IcmpAnswer::Answered);
}

TEST(IcmpEcho, ASilentAddressGivesNoAnswerAfter4000Ms)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    // A link of the namespace's own whose far end has no address: the
    // subnet 192.0.2.0/24 exists only in here and nobody on it answers.
    if (ns.Exec("ip link add quiet0 type veth peer name quiet1") != 0)
        GTEST_SKIP() << "needs veth links inside the test's namespace";
    ASSERT_EQ(ns.Exec("ip addr add 192.0.2.1/24 dev quiet0"), 0);
    ASSERT_EQ(ns.Exec("ip link set quiet0 up"), 0);
    ASSERT_EQ(ns.Exec("ip link set quiet1 up"), 0);
    auto request = std::make_shared<ProbeRequest>("192.0.2.2");
    std::chrono::steady_clock::duration took{};
    ASSERT_TRUE(ns.RunInside([&] {
        const auto start = std::chrono::steady_clock::now();
        IcmpProbeThread(request);
        took = std::chrono::steady_clock::now() - start;
    }));
    request->Abandon();
    EXPECT_EQ(ProbeAnswer(*request), IcmpAnswer::NoAnswer);
    EXPECT_GE(took, std::chrono::milliseconds(kIcmpProbeTimeoutMs));
    EXPECT_LT(took, std::chrono::milliseconds(kIcmpProbeTimeoutMs + 1000));
}

TEST(IcmpEcho, TheRequestCarriesNoPayload)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    // A raw socket of the test sees the request arrive on loopback.
    std::size_t icmpBytes = 0;
    ASSERT_TRUE(ns.RunInside([&] {
        const int watch = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (watch < 0) return;
        EXPECT_EQ(IcmpEcho("127.0.0.1", 4000, IcmpSocketKind::Raw), IcmpAnswer::Answered);
        for (;;) {
            pollfd wait{watch, POLLIN, 0};
            if (::poll(&wait, 1, 500) <= 0) break;
            std::uint8_t packet[1500];
            const ssize_t got = ::recv(watch, packet, sizeof packet, 0);
            if (got < 28) continue;
            const std::size_t header = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
            if (packet[header] == 8) {  // echo request
                icmpBytes = static_cast<std::size_t>(got) - header;
                break;
            }
        }
        ::close(watch);
    }));
    EXPECT_EQ(icmpBytes, 8U) << "an echo request is the 8-byte ICMP header and nothing else";
}

TEST(IcmpProbe, AnswerIsReportedUnlessTheRecordWasAbandoned)
{
    if (!CanUseRawSockets()) GTEST_SKIP() << "needs CAP_NET_RAW for a raw ICMP socket";
    auto answered = std::make_shared<ProbeRequest>("127.0.0.1");
    IcmpProbeThread(answered);
    EXPECT_EQ(answered->result.load(), 1);

    // The reply comes after the starter gave up: nothing is written.
    auto abandoned = std::make_shared<ProbeRequest>("127.0.0.1");
    abandoned->Abandon();
    IcmpProbeThread(abandoned);
    EXPECT_EQ(abandoned->result.load(), 0);
    // Nor is a refusal, and a worker that never started did not look.
    auto late = std::make_shared<ProbeRequest>("not an address");
    late->Abandon();
    IcmpProbeThread(late);
    EXPECT_EQ(ProbeAnswer(*late), IcmpAnswer::NoAnswer);
    EXPECT_EQ(ProbeAnswer(*late, false), IcmpAnswer::NotSent);

    // Started as a worker, it ends on its own and lets go of the record.
    auto detached = std::make_shared<ProbeRequest>("127.0.0.1");
    ASSERT_TRUE(StartIcmpProbe(detached));
    EXPECT_TRUE(tessel::testing::WaitUntil([&] { return detached.use_count() == 1; }, 5000));
    EXPECT_EQ(detached->result.load(), 1);
}

// A loopback TCP port: listening (and recording what the peer sent before
// closing) or bound without listening, which refuses connections.
class LoopbackPort {
public:
    explicit LoopbackPort(bool listening)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return;
        if (listening && ::listen(m_fd, 4) != 0) return;
        socklen_t size = sizeof at;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&at), &size);
        m_port = ntohs(at.sin_port);
    }
    ~LoopbackPort() { ::close(m_fd); }
    std::uint16_t port() const { return m_port; }

    // Accepts one connection and reads it to its end: the bytes received,
    // or -1 when no connection came or it did not end in time.
    long BytesUntilClosed()
    {
        pollfd wait{m_fd, POLLIN, 0};
        if (::poll(&wait, 1, 3000) <= 0) return -1;
        const int peer = ::accept(m_fd, nullptr, nullptr);
        if (peer < 0) return -1;
        long total = 0;
        for (;;) {
            pollfd data{peer, POLLIN, 0};
            if (::poll(&data, 1, 3000) <= 0) {
                total = -1;
                break;
            }
            char buffer[256];
            const ssize_t got = ::recv(peer, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            total += got;
        }
        ::close(peer);
        return total;
    }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

TEST(PortProbe, AListeningServerSeesAConnectionOpenedAndClosedWithoutData)
{
    LoopbackPort server(true);
    ASSERT_NE(server.port(), 0);
    auto request = std::make_shared<ProbeRequest>("127.0.0.1");
    request->port = server.port();
    PortProbeThread(request);
    EXPECT_EQ(request->result.load(), 1);
    EXPECT_EQ(server.BytesUntilClosed(), 0);
}

TEST(PortProbe, ARefusedConnectionOrABadAddressGivesNothing)
{
    LoopbackPort closed(false);
    ASSERT_NE(closed.port(), 0);
    auto refused = std::make_shared<ProbeRequest>("127.0.0.1");
    refused->port = closed.port();
    PortProbeThread(refused);
    EXPECT_EQ(refused->result.load(), 0);

    auto bad = std::make_shared<ProbeRequest>("no.such.address");
    PortProbeThread(bad);
    EXPECT_EQ(bad->result.load(), 0);
    PortProbeThread(nullptr);
}

TEST(PortProbe, AConnectionAfterTheStarterGaveUpIsNotRecorded)
{
    LoopbackPort server(true);
    auto request = std::make_shared<ProbeRequest>("127.0.0.1");
    request->port = server.port();
    EXPECT_EQ(request->Abandon(), 0);
    ASSERT_TRUE(StartPortProbe(request));
    // The worker still connects (and closes), but writes nothing.
    EXPECT_EQ(server.BytesUntilClosed(), 0);
    EXPECT_TRUE(tessel::testing::WaitUntil([&] { return request.use_count() == 1; }, 3000));
    EXPECT_EQ(request->result.load(), 0);
}

}  // namespace
}  // namespace tessel
