// tessel-peer: behaves as MERROW servers do on the network, for the
// end-to-end tests and demonstrations. Each service of a server (discovery,
// the restart on a reply, its web form, its FTP service) lives in its own
// unit; this file reads the command line and runs them.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "discovery.h"
#include "netif.h"
#include "peer_options.h"
#include "report.h"
#include "restart.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnStopSignal(int)
{
    stopRequested.store(true);
}

// Without SA_RESTART, so a signal interrupts the wait for replies at once.
void InstallStopHandlers()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    static_assert(std::atomic<bool>::is_always_lock_free);
    const peer::ParseResult parsed = peer::ParseCommandLine(argc, argv);
    if (parsed.help) {
        peer::PrintUsage(stdout);
        return peer::kExitOk;
    }
    if (!parsed.config) {
        peer::ReportError(parsed.error);
        std::fputs("Try 'tessel-peer --help'.\n", stderr);
        return peer::kExitUsage;
    }
    const peer::PeerConfig& config = *parsed.config;

    // The broadcasts must stay on a test bed; on a real network they would
    // reach every BOOTP server there.
    if (!config.hostNetwork && !peer::InOwnNetworkNamespace()) {
        peer::ReportError(
            "refusing to broadcast from the machine's own network; run inside a "
            "network namespace (ip netns exec) or give --host-network");
        return peer::kExitUnavailable;
    }

    peer::InterfaceInfo interface;
    std::string error;
    if (!peer::FindInterface(config.interfaceName, interface, error)) {
        peer::ReportError(error);
        return peer::kExitUnavailable;
    }

    InstallStopHandlers();
    // Declared first, so it outlives the discovery that reports replies to it;
    // leaving main waits for its pending restarts and closes its services.
    peer::RestartService restart(config, interface, stopRequested);
    peer::DiscoveryService discovery(config, interface, &restart);
    if (!discovery.Open(error)) {
        peer::ReportError(error);
        return peer::kExitUnavailable;
    }
    const bool ok = discovery.Run(stopRequested);
    stopRequested.store(true);  // the services close with the discovery
    return ok ? peer::kExitOk : peer::kExitUnavailable;
}
