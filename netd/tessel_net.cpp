// tessel-net: makes the privileged network steps for the window and for
// tessel-cli, which start it as their child with one end of a socket pair
// on descriptor 3. It answers a closed set of requests, one per message
// (platform/net_helper_protocol.h), checks each before doing anything,
// raises a capability only around the one call that needs it, and starts
// no program. When its parent has gone (the end of the socket, however
// the parent ended), it removes every neighbour entry it made that is
// still as it made it, and ends.
#include <net/if.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/net_helper_channel.h"
#include "platform/net_helper_protocol.h"
#include "platform/net_steps.h"
#include "platform/privileges.h"

namespace {

using namespace tessel;
namespace nh = tessel::nethelper;

constexpr int kParentSocket = nh::kHelperSocket;
constexpr int kExitUsage = 64;
constexpr std::uint16_t kServerPort = 67;

struct Answer {
    nh::Reply reply;
    int fd = -1;  // handed over with the reply, then closed here
};

Answer Failure(nh::ReplyCode code, const std::string& detail)
{
    return Answer{nh::Reply{code, detail}};
}

Answer BindServerPort()
{
    const int fd = here::NewDatagramSocket();
    if (fd < 0) return Failure(nh::ReplyCode::Failed, std::strerror(errno));
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        const int error = errno;
        ::close(fd);
        return Failure(nh::ReplyCode::Failed, std::strerror(error));
    }
    const int error = here::BindToPort(fd, kServerPort);
    if (error == 0) return Answer{nh::Reply{nh::ReplyCode::Ok, ""}, fd};
    ::close(fd);
    if (error == EADDRINUSE) return Failure(nh::ReplyCode::InUse, "");
    if (error == EACCES || error == EPERM) return Failure(nh::ReplyCode::NotPermitted, "cap_net_bind_service");
    return Failure(nh::ReplyCode::Failed, std::strerror(error));
}

Answer Echo(const nh::Request& request)
{
    switch (here::IcmpEcho(nh::AddressText(request.address), request.timeoutMs, IcmpSocketKind::Automatic)) {
    case IcmpAnswer::Answered:
        return Failure(nh::ReplyCode::Answered, "");
    case IcmpAnswer::NoAnswer:
        return Failure(nh::ReplyCode::NoAnswer, "");
    case IcmpAnswer::NotPermitted:
        return Failure(nh::ReplyCode::NotPermitted, "cap_net_raw");
    case IcmpAnswer::NotSent:
        break;
    }
    return Failure(nh::ReplyCode::Failed, "echo request not sent");
}

Answer FromResult(NeighbourResult result)
{
    switch (result) {
    case NeighbourResult::Done:
        return Failure(nh::ReplyCode::Ok, "");
    case NeighbourResult::Kept:
        return Failure(nh::ReplyCode::Kept, "");
    case NeighbourResult::NotPermitted:
        return Failure(nh::ReplyCode::NotPermitted, "cap_net_admin");
    case NeighbourResult::Failed:
        break;
    }
    return Failure(nh::ReplyCode::Failed, "neighbour table not changed");
}

Answer Handle(std::string_view message)
{
    const nh::Parsed parsed = nh::ParseRequest(message);
    if (!parsed.request) return Failure(nh::ReplyCode::Refused, parsed.error);
    const nh::Request& request = *parsed.request;
    switch (request.kind) {
    case nh::RequestKind::BindServerPort:
        return BindServerPort();
    case nh::RequestKind::Echo:
        return Echo(request);
    case nh::RequestKind::AddNeighbour:
        if (::if_nametoindex(request.device.c_str()) == 0) return Failure(nh::ReplyCode::Refused, "no such interface");
        return FromResult(here::AddOwnNeighbour(nh::AddressText(request.address), request.hardware, request.device));
    case nh::RequestKind::RemoveNeighbour:
        return FromResult(here::RemoveOwnNeighbours(nh::AddressText(request.address)));
    }
    return Failure(nh::ReplyCode::Refused, "unknown request");
}

// Descriptor 3 is a sequenced-packet socket: started by the programs.
bool StartedByAProgram()
{
    int type = 0;
    socklen_t size = sizeof type;
    return ::getsockopt(kParentSocket, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_SEQPACKET;
}

}  // namespace

int main()
{
    // Signals meant for the terminal's foreground programs leave it to
    // its parent: it ends on the end of the socket, after cleaning up.
    for (const int signal : {SIGINT, SIGQUIT, SIGHUP, SIGPIPE, SIGTSTP}) ::signal(signal, SIG_IGN);
    LowerNetworkRights();
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (!StartedByAProgram()) {
        std::fprintf(stderr, "tessel-net: the network helper of tessel and tessel-cli, started by them only\n");
        return kExitUsage;
    }
    char buffer[nh::kMaxMessage + 1];
    for (;;) {
        int handed = -1;  // nothing is taken from the parent: closed at once
        const ssize_t got = nh::ReceiveMessage(kParentSocket, buffer, sizeof buffer, handed);
        if (handed >= 0) ::close(handed);
        if (got <= 0) break;  // the parent has gone
        const Answer answer = Handle(std::string_view(buffer, static_cast<std::size_t>(got)));
        const bool sent = nh::SendMessage(kParentSocket, nh::FormatReply(answer.reply), answer.fd);
        if (answer.fd >= 0) ::close(answer.fd);
        if (!sent) break;
    }
    here::RemoveEveryOwnNeighbour();
    return 0;
}
