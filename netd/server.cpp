#include "netd/server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/net_steps.h"

namespace tessel::nethelper {

namespace {

constexpr std::uint16_t kServerPort = 67;

Answer Refuse(const std::string& reason)
{
    return Answer{Reply{ReplyCode::Refused, reason}};
}

}  // namespace

Answer Server::Handle(const Received& received, std::string_view bytes)
{
    // Nothing comes with a request: whatever did has been closed already.
    if (received.otherControl || received.fd >= 0) return Refuse("control data");
    const Parsed parsed = ParseRequest(bytes);
    if (!parsed.request) return Refuse(parsed.error);
    const Request& request = *parsed.request;
    if (!RoleServes(m_role, request.kind)) return Refuse("not a request of this helper");
    switch (request.kind) {
    case RequestKind::BindServerPort:
        return BindServerPort();
    case RequestKind::Echo:
        return Echo(request);
    case RequestKind::AddNeighbour: {
        std::string why;
        const NeighbourResult result =
            here::AddOwnNeighbour(AddressText(request.address), request.hardware, request.device, &why);
        return Answer{ReplyOf(result, why)};
    }
    case RequestKind::RemoveNeighbour:
        return Answer{ReplyOf(here::RemoveOwnNeighbours(AddressText(request.address)))};
    }
    return Refuse("unknown request");
}

Answer Server::BindServerPort()
{
    // Once a run: the program keeps the socket for its whole life.
    if (m_portHandedOver) return Refuse("port handed over already");
    const int fd = here::NewDatagramSocket();
    if (fd < 0) return Answer{BindReplyOf(errno)};
    const int on = 1;
    int error = ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 ? 0 : errno;
    if (error == 0) error = here::BindToPort(fd, kServerPort);
    if (error != 0) {
        ::close(fd);
        return Answer{BindReplyOf(error)};
    }
    m_portHandedOver = true;
    return Answer{BindReplyOf(0), fd};
}

Answer Server::Echo(const Request& request)
{
    using namespace std::chrono;
    const auto due = m_lastEcho + milliseconds(kMinEchoIntervalMs);
    if (steady_clock::now() < due) std::this_thread::sleep_until(due);
    m_lastEcho = steady_clock::now();
    return Answer{ReplyOf(here::IcmpEcho(AddressText(request.address), request.timeoutMs, IcmpSocketKind::Automatic))};
}

int Server::MsUntilDue() const
{
    return m_role == Role::Table ? here::MsUntilOwnNeighbourExpires() : -1;
}

void Server::RemoveExpired()
{
    if (m_role == Role::Table) here::RemoveExpiredOwnNeighbours();
}

void Server::Finish()
{
    if (m_role == Role::Table) here::RemoveEveryOwnNeighbour();
}

}  // namespace tessel::nethelper
