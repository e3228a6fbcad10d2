// tessel-net: makes the privileged network steps for the window and for
// tessel-cli, which start it as their child with one end of a socket pair
// on descriptor 3 and its role as its one argument. It keeps only its
// role's capabilities, filters its own system calls, answers a closed set
// of requests, one per message (netd/protocol.h), checks each before doing
// anything, raises a capability only around the one call that needs it,
// and starts no program. Its neighbour entries go when their lifetime is
// over, and all of them when it ends: on the end of its socket (however
// the program ended), on SIGTERM, SIGHUP or SIGINT, and when its replies
// are not read.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "netd/channel.h"
#include "netd/protocol.h"
#include "netd/sandbox.h"
#include "netd/server.h"
#include "platform/net_steps.h"
#include "platform/privileges.h"

namespace {

using namespace tessel;
namespace nh = tessel::nethelper;

constexpr int kParentSocket = nh::kHelperSocket;
constexpr int kExitUsage = 64;
constexpr int kExitSandbox = 70;

volatile sig_atomic_t g_ending = 0;

void OnEndSignal(int)
{
    g_ending = 1;
}

// Descriptor 3 is a sequenced-packet socket: started by the programs.
bool StartedByAProgram()
{
    int type = 0;
    socklen_t size = sizeof type;
    return ::getsockopt(kParentSocket, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_SEQPACKET;
}

// The end signals are blocked except while the helper waits for a
// message, so that one never cuts a step short and always finds the wait.
void CatchEndSignals(sigset_t& whileWaiting)
{
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    sigset_t ends;
    sigemptyset(&ends);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        ::sigaction(signal, &action, nullptr);
        sigaddset(&ends, signal);
    }
    for (const int signal : {SIGQUIT, SIGPIPE, SIGTSTP}) ::signal(signal, SIG_IGN);
    ::sigprocmask(SIG_BLOCK, &ends, &whileWaiting);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) sigdelset(&whileWaiting, signal);
}

}  // namespace

int main(int argc, char** argv)
{
    LowerNetworkRights();
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    const auto role = argc == 2 ? nh::ParseRole(argv[1]) : std::nullopt;
    if (!role || !StartedByAProgram()) {
        std::fprintf(stderr, "tessel-net: the network helper of tessel and tessel-cli, started by them only\n");
        return kExitUsage;
    }
    nh::KeepRoleRights(*role);
    if (*role == nh::Role::Table) here::KeepNeighbourSocket();
    sigset_t whileWaiting;
    CatchEndSignals(whileWaiting);
    if (!nh::InstallSystemCallFilter(*role)) {
        std::fprintf(stderr, "tessel-net: the system-call filter could not be installed\n");
        return kExitSandbox;
    }
    nh::Server server(*role);
    bool portRightHeld = *role == nh::Role::Table;
    char buffer[nh::kMaxMessage + 1];
    while (g_ending == 0) {
        const int due = server.MsUntilDue();
        timespec wait{due / 1000, (due % 1000) * 1000000L};
        pollfd ready{kParentSocket, POLLIN, 0};
        const int got = ::ppoll(&ready, 1, due < 0 ? nullptr : &wait, &whileWaiting);
        // No wait at all (a limit on descriptors below one makes ppoll
        // refuse): the helper cannot serve, so it ends, with its clean-up.
        if (got < 0 && errno != EINTR) break;
        if (got <= 0) {
            server.RemoveExpired();
            continue;  // a timeout, or a signal (g_ending says which)
        }
        const nh::Received received = nh::ReceiveMessage(kParentSocket, buffer, sizeof buffer);
        if (received.size < 0 || received.ended) break;  // the program has gone
        const nh::Answer answer =
            server.Handle(received, std::string_view(buffer, static_cast<std::size_t>(received.size)));
        if (received.fd >= 0) ::close(received.fd);
        // The port is bound: its right goes before the program hears so.
        if (portRightHeld && server.PortHandedOver()) {
            DropNetworkRight(NetworkRight::BindPort);
            portRightHeld = false;
        }
        // Never waits: a member whose side does not read its replies ends
        // its helper (with the clean-up) rather than holding it in a send.
        const bool sent =
            nh::SendMessage(kParentSocket, nh::FormatReply(answer.reply), answer.fd, nh::SendWait::DontWait);
        if (answer.fd >= 0) ::close(answer.fd);
        if (!sent) break;
        server.RemoveExpired();
    }
    server.Finish();
    return 0;
}
