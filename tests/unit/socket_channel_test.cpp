// The real UDP channel on loopback, on a free port instead of 67.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <future>
#include <vector>

#include "engine/bootp_channel.h"
#include "platform/sockets.h"
#include "platform/udp_socket.h"
#ifndef _WIN32
#include "test_namespace.h"
#endif

using namespace tessel;

namespace {

#ifdef _WIN32
using SocketLength = int;
using Fd = SOCKET;
void CloseFd(Fd fd)
{
    ::closesocket(fd);
}
#else
using SocketLength = socklen_t;
using Fd = int;
void CloseFd(Fd fd)
{
    ::close(fd);
}
#endif

// The test's own sockets need the socket layer before any channel opens.
[[maybe_unused]] const int kSocketLayer = SocketStartup();

class Udp {
public:
    Udp() : fd(::socket(AF_INET, SOCK_DGRAM, 0)) {}
    ~Udp() { CloseFd(fd); }
    std::uint16_t BindAny()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        SocketLength n = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        return ntohs(a.sin_port);
    }
    void SendTo(std::uint16_t port, const std::vector<std::uint8_t>& bytes)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                 reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    Fd fd;
};

std::uint16_t FreePort()
{
    Udp probe;
    return probe.BindAny();
}

}  // namespace

TEST(SocketChannel, WholeEmptyAndOversizeDatagrams)
{
    const std::uint16_t port = FreePort();
    auto channel = MakeSocketChannel(port);
    ASSERT_EQ(channel->Open(), OpenResult::Ok);
    Udp sender;
    const std::uint16_t senderPort = sender.BindAny();

    BootpMessage m;
    sender.SendTo(port, std::vector<std::uint8_t>(2048, 1));
    EXPECT_EQ(channel->Receive(m), ReceiveStatus::Ok);
    EXPECT_EQ(m.length, 2048u);
    EXPECT_EQ(m.sourcePort, senderPort);
    EXPECT_EQ(m.sourceAddress, (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_GT(m.interfaceIndex, 0) << "the arrival interface is needed for the reply";

    sender.SendTo(port, {});
    EXPECT_EQ(channel->Receive(m), ReceiveStatus::Closed);

    // One byte too many: an error, and nothing of it is left to be read.
    sender.SendTo(port, std::vector<std::uint8_t>(2049, 1));
    EXPECT_EQ(channel->Receive(m), ReceiveStatus::Error);
    EXPECT_EQ(m.length, 0u);
    EXPECT_EQ(m.buffer[0], 0);
    EXPECT_TRUE(m.hasSource);

    // A short one after a long one sees zeros behind its own bytes.
    sender.SendTo(port, std::vector<std::uint8_t>(300, 2));
    EXPECT_EQ(channel->Receive(m), ReceiveStatus::Ok);
    EXPECT_EQ(m.buffer[299], 2);
    EXPECT_EQ(m.buffer[300], 0);
    channel->Close();
}

// Datagrams that wait together are taken as a batch and handed out in
// order, each whole and with its own source; a cut one among them stays an
// error of its own, and a Wake still ends the batch with a wake-up.
TEST(SocketChannel, WaitingDatagramsComeOneByOneInOrder)
{
    const std::uint16_t port = FreePort();
    auto channel = MakeSocketChannel(port);
    ASSERT_EQ(channel->Open(), OpenResult::Ok);
    Udp first, second;
    const std::uint16_t firstPort = first.BindAny();
    const std::uint16_t secondPort = second.BindAny();
    const std::vector<std::size_t> lengths = {300, 2049, 1, 2048, 300};
    for (std::size_t i = 0; i < lengths.size(); ++i)
        (i % 2 == 0 ? first : second)
            .SendTo(port, std::vector<std::uint8_t>(lengths[i], static_cast<std::uint8_t>(i + 1)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    BootpMessage m;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        const bool cut = lengths[i] > kBootpBufferSize;
        EXPECT_EQ(channel->Receive(m), cut ? ReceiveStatus::Error : ReceiveStatus::Ok) << i;
        EXPECT_EQ(m.length, cut ? 0 : lengths[i]) << i;
        EXPECT_EQ(m.buffer[0], cut ? 0 : i + 1) << i;
        EXPECT_EQ(m.buffer[300], lengths[i] > 300 && !cut ? i + 1 : 0) << i;
        EXPECT_EQ(m.sourcePort, i % 2 == 0 ? firstPort : secondPort) << i;
        EXPECT_EQ(channel->HasPending(), i + 1 < lengths.size()) << i;
    }
    channel->Wake();
    EXPECT_EQ(channel->Receive(m), ReceiveStatus::Closed);
    EXPECT_FALSE(m.hasSource);
    channel->Close();
}

TEST(SocketChannel, WakeUnblocksAReceive)
{
    auto channel = MakeSocketChannel(FreePort());
    ASSERT_EQ(channel->Open(), OpenResult::Ok);
    auto pending = std::async(std::launch::async, [&channel] {
        BootpMessage m;
        const auto status = channel->Receive(m);
        return std::make_pair(status, m.hasSource);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    channel->Wake();
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto [status, hasSource] = pending.get();
    EXPECT_EQ(status, ReceiveStatus::Closed);
    EXPECT_FALSE(hasSource);
    channel->Close();
}

TEST(SocketChannel, PortHeldByAnotherSocketIsInUse)
{
    Udp holder;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::bind(holder.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    SocketLength n = sizeof a;
    ::getsockname(holder.fd, reinterpret_cast<sockaddr*>(&a), &n);
    auto channel = MakeSocketChannel(ntohs(a.sin_port));
    EXPECT_EQ(channel->Open(), OpenResult::PortInUse);
}

#ifndef _WIN32
// The reply goes to the port its request came from: a relay, or a server
// asking from port 67, is answered there, not at 68. In a namespace of the
// test's own, where the broadcast reaches only its loopback.
TEST(SocketChannel, TheReplyGoesToTheRequestsSourcePort)
{
    test::TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    for (const std::uint16_t from : {68, 67, 5068}) {
        std::vector<std::uint8_t> got;
        std::uint16_t heardFrom = 0;
        ASSERT_TRUE(ns.RunInside([&] {
            auto channel = MakeSocketChannel(6767);
            if (channel->Open() != OpenResult::Ok) return;
            Udp asker;
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(from);
            ::bind(asker.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            const timeval wait{2, 0};
            ::setsockopt(asker.fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            asker.SendTo(6767, std::vector<std::uint8_t>(300, 1));
            BootpMessage request;
            if (channel->Receive(request) != ReceiveStatus::Ok) return;
            heardFrom = request.sourcePort;
            const std::vector<std::uint8_t> reply(300, 2);
            channel->SendReply(reply, request);
            std::uint8_t buffer[512];
            const ssize_t n = ::recv(asker.fd, buffer, sizeof buffer, 0);
            if (n > 0) got.assign(buffer, buffer + n);
            channel->Close();
        }));
        EXPECT_EQ(heardFrom, from);
        EXPECT_EQ(got, std::vector<std::uint8_t>(300, 2)) << "no reply at port " << from;
    }
}
#endif

#ifdef _WIN32
// Two jobs reply at once on the one socket: the interface option and the
// send of one are never split by the other's (it would send through the
// other's interface). Sent to loopback here; the pair is the same.
TEST(SocketChannel, InterfaceOptionAndSendAreOneStep)
{
    static std::atomic<int> inside{0}, most{0};
    udp::betweenOptionAndSend = [] {
        const int now = ++inside;
        for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {}
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        --inside;
    };
    Udp sender, receiver;
    sender.BindAny();
    const std::uint16_t port = receiver.BindAny();
    const std::vector<std::uint8_t> bytes(300, 2);
    auto job = [&] {
        int sent = 0;
        for (int i = 0; i < 5; ++i)
            sent += udp::SendThrough(static_cast<udp::Handle>(sender.fd), bytes.data(), bytes.size(), INADDR_LOOPBACK,
                                     port, 0)
                        ? 1
                        : 0;
        return sent;
    };
    auto first = std::async(std::launch::async, job);
    auto second = std::async(std::launch::async, job);
    const int sent = first.get() + second.get();
    udp::betweenOptionAndSend = nullptr;
    EXPECT_EQ(sent, 10);
    EXPECT_EQ(most.load(), 1) << "one job's send came between the other's option and send";
}
#endif
