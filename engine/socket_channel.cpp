#include <atomic>
#include <cstring>
#include <mutex>

#include "engine/bootp_channel.h"
#include "platform/sockets.h"
#include "platform/udp_socket.h"

namespace tessel {

namespace {

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
    }

    bool SendReply(std::span<const std::uint8_t> reply, const BootpMessage& request) override
    {
        return udp::SendBroadcast(m_socket.load(), reply.data(), reply.size(), request.sourcePort,
                                  request.interfaceIndex);
    }

    bool HasPending() override { return udp::HasWaiting(m_socket.load()); }

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
};

}  // namespace

std::unique_ptr<BootpChannel> MakeSocketChannel(std::uint16_t port)
{
    return std::make_unique<SocketChannel>(port);
}

}  // namespace tessel
