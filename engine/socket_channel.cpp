#include <atomic>
#include <cstring>
#include <mutex>

#ifdef __linux__
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <vector>
#endif

#include "engine/bootp_channel.h"
#include "platform/sockets.h"
#include "platform/udp_socket.h"

namespace tessel {

namespace {

#ifdef __linux__
// The datagrams waiting on the socket, taken in one system call (recvmmsg
// with MSG_WAITFORONE: it blocks for the first only and takes what else is
// there, up to kReceiveBatch) and handed out in order. In a flood the loop
// pays the system call once per batch instead of once per datagram; a
// datagram on its own is taken as soon as it comes, as before.
class ReceiveBatch {
public:
    ReceiveBatch() : m_slots(kReceiveBatch), m_headers(kReceiveBatch) {}

    bool Empty() const { return m_next >= m_count; }
    void Drop() { m_next = m_count; }

    // Blocks for the next batch; false on a receive error.
    bool Fill(int fd)
    {
        m_next = m_count = 0;
        for (unsigned i = 0; i < kReceiveBatch; ++i) {
            Slot& slot = m_slots[i];
            slot.io = {slot.data, sizeof slot.data};
            msghdr& h = m_headers[i].msg_hdr;
            h = msghdr{};
            h.msg_name = &slot.from;
            h.msg_namelen = sizeof slot.from;
            h.msg_iov = &slot.io;
            h.msg_iovlen = 1;
            h.msg_control = slot.control;
            h.msg_controllen = sizeof slot.control;
            m_headers[i].msg_len = 0;
        }
        int n;
        do {
            n = ::recvmmsg(fd, m_headers.data(), kReceiveBatch, MSG_WAITFORONE, nullptr);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
        m_count = static_cast<unsigned>(n);
        return true;
    }

    // The next datagram of the batch into `message` (already cleared).
    ReceiveStatus Take(BootpMessage& message)
    {
        const unsigned i = m_next++;
        const Slot& slot = m_slots[i];
        msghdr& h = m_headers[i].msg_hdr;
        if (h.msg_namelen >= sizeof slot.from && slot.from.sin_family == AF_INET) {
            std::memcpy(message.sourceAddress.data(), &slot.from.sin_addr, 4);
            message.sourcePort = ntohs(slot.from.sin_port);
            message.hasSource = true;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&h); c != nullptr; c = CMSG_NXTHDR(&h, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo pi{};
                std::memcpy(&pi, CMSG_DATA(c), sizeof pi);
                message.interfaceIndex = pi.ipi_ifindex;
            }
        }
        // A cut datagram must never be handled as if it were whole.
        if ((h.msg_flags & MSG_TRUNC) != 0) return ReceiveStatus::Error;
        const std::size_t length = m_headers[i].msg_len;
        if (length == 0) {
            // A shut-down socket answers every further read at once with
            // nothing: the batch holds only wake-ups from here on.
            if (!message.hasSource) Drop();
            return ReceiveStatus::Closed;
        }
        std::memcpy(message.buffer.data(), slot.data, length);
        message.length = length;
        return ReceiveStatus::Ok;
    }

private:
    struct Slot {
        std::uint8_t data[kBootpBufferSize];
        sockaddr_in from;
        iovec io;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    };
    std::vector<Slot> m_slots;
    std::vector<mmsghdr> m_headers;
    unsigned m_count = 0;
    unsigned m_next = 0;
};
#endif

class SocketChannel final : public BootpChannel {
public:
    explicit SocketChannel(std::uint16_t port) : m_port(port) {}
    ~SocketChannel() override { Close(); }

    OpenResult Open() override
    {
        if (SocketStartup() != 0) return OpenResult::StartupFailed;
        m_started = true;
        const udp::Handle socket = udp::Create();
        if (socket == udp::kInvalidHandle) {
            Close();
            return OpenResult::SocketInvalid;
        }
        m_socket.store(socket);
        if (!udp::EnableBroadcast(socket)) {
            Close();
            return OpenResult::BroadcastFailed;
        }
        switch (udp::Bind(socket, m_port)) {
        case udp::BindResult::Ok:
            return OpenResult::Ok;
        case udp::BindResult::InUse:
            Close();
            return OpenResult::PortInUse;
        case udp::BindResult::NotPermitted:
            Close();
            return OpenResult::PortNotPermitted;
        case udp::BindResult::OtherError:
            break;
        }
        Close();
        return OpenResult::BindFailed;
    }

    ReceiveStatus Receive(BootpMessage& message) override
    {
        message.Clear();
#ifdef __linux__
        if (m_batch.Empty() && !m_batch.Fill(static_cast<int>(m_socket.load()))) return ReceiveStatus::Error;
        return m_batch.Take(message);
#else
        udp::Datagram info;
        const auto result = udp::Receive(m_socket.load(), message.buffer.data(), message.buffer.size(), info);
        if (result == udp::ReceiveResult::Error) return ReceiveStatus::Error;
        std::memcpy(message.sourceAddress.data(), info.source, 4);
        message.sourcePort = info.sourcePort;
        message.interfaceIndex = info.interfaceIndex;
        message.hasSource = info.hasSource;
        if (result == udp::ReceiveResult::Truncated) {
            // A cut datagram must never be handled as if it were whole.
            message.buffer.fill(0);
            return ReceiveStatus::Error;
        }
        message.length = info.length;
        return info.length == 0 ? ReceiveStatus::Closed : ReceiveStatus::Ok;
#endif
    }

    bool SendReply(std::span<const std::uint8_t> reply, const BootpMessage& request) override
    {
        return udp::SendBroadcast(m_socket.load(), reply.data(), reply.size(), request.sourcePort,
                                  request.interfaceIndex);
    }

#ifdef __linux__
    bool HasPending() override
    {
        return !m_batch.Empty() || udp::HasWaiting(m_socket.load());
    }
    bool HasBuffered() const override
    {
        return !m_batch.Empty();
    }
#else
    bool HasPending() override
    {
        return udp::HasWaiting(m_socket.load());
    }
#endif

    void Wake() override
    {
        // Under the lock, so that a socket closed meanwhile (and its number
        // reused) is never shut down by mistake.
        std::lock_guard<std::mutex> guard(m_closeLock);
        const udp::Handle socket = m_socket.load();
        if (socket != udp::kInvalidHandle) udp::Shutdown(socket);
    }

    void Close() override
    {
        std::lock_guard<std::mutex> guard(m_closeLock);
        const udp::Handle socket = m_socket.exchange(udp::kInvalidHandle);
        if (socket != udp::kInvalidHandle) udp::Close(socket);
        if (m_started) {
            SocketCleanup();
            m_started = false;
        }
    }

private:
    std::uint16_t m_port;
    std::atomic<udp::Handle> m_socket{udp::kInvalidHandle};
    bool m_started = false;
    std::mutex m_closeLock;
#ifdef __linux__
    ReceiveBatch m_batch;  // only the receiving thread touches it
#endif
};

}  // namespace

std::unique_ptr<BootpChannel> MakeSocketChannel(std::uint16_t port)
{
    return std::make_unique<SocketChannel>(port);
}

}  // namespace tessel
