#include "workers/startup_check.h"

#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/udp_socket.h"

namespace tessel {

namespace {

// A datagram socket on any local address and an ephemeral port, closed at
// once: whether this machine's TCP/IP can be used at all.
bool SystemSocketWorks()
{
    SocketStartup();  // the result is not examined: the socket tells
    const udp::Handle socket = udp::Create();
    if (socket == udp::kInvalidHandle) return false;
    const bool bound = udp::Bind(socket, 0) == udp::BindResult::Ok;
    udp::Close(socket);
    return bound;
}

void ShowWithHelp(const StartupCheckEnv& env, StartupMessage message, int help)
{
    const ScopedHelp topic(&env.help, help);
    env.window.ShowStartupMessage(message);
}

}  // namespace

int StartupCheckThread(const StartupCheckEnv& env)
{
    // A close during the first 1.6 s ends the check as soon as it is seen:
    // nothing is left to tell a program that is going.
    for (int i = 0; i < kStartupFirstSteps; ++i) {
        env.clock.SleepMs(kStartupFirstStepMs);
        if (env.stopRequested.load()) return 0;
    }

    const bool socketWorks = env.socketWorks ? env.socketWorks() : SystemSocketWorks();
    if (!socketWorks) {
        env.window.ShowStartupMessage(StartupMessage::NoTcpIp);
        env.window.CloseProgram();
        return 0;
    }
    if (!env.stopRequested.load()) {
        switch (env.networkStart ? env.networkStart() : NetworkStart::Running) {
        case NetworkStart::PortInUse:
            ShowWithHelp(env, StartupMessage::PortInUse, kHelpPortTaken);
            env.window.CloseProgram();
            return 0;
        case NetworkStart::PortNotPermitted:
            // Nothing to close elsewhere: the user must start us differently.
            env.window.ShowStartupMessage(StartupMessage::PortNotPermitted);
            env.window.CloseProgram();
            return 0;
        case NetworkStart::Running:
            break;
        }
    }
    for (int i = 0; i < kStartupHintSteps; ++i) {
        env.clock.SleepMs(kStartupHintStepMs);
        if (env.stopRequested.load()) return 0;
    }
    if (!env.stopRequested.load() && env.awaitingFirstServer.load())
        ShowWithHelp(env, StartupMessage::NoServerYet, kHelpNoServerYet);
    return 0;
}

void StartupCheck::Start()
{
    m_thread = std::thread([this] {
        StartupCheckThread(m_env);
        m_finished.store(true);
    });
}

void StartupCheck::Join()
{
    if (m_thread.joinable()) m_thread.join();
}

}  // namespace tessel
