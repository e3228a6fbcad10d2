// The discovery side of a MERROW server: broadcast BOOTREQUESTs to port 67 on
// a schedule, one stream per simulated server, and report every datagram that
// comes back to the client port (the program's BOOTREPLY, as a rule).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "netif.h"
#include "peer_options.h"
#include "restart.h"

namespace peer {

class DiscoveryService {
public:
    // restart, when given, hears of every reply meant for one of the servers.
    DiscoveryService(const PeerConfig& config, const InterfaceInfo& interface, RestartService* restart = nullptr);
    ~DiscoveryService();
    DiscoveryService(const DiscoveryService&) = delete;
    DiscoveryService& operator=(const DiscoveryService&) = delete;

    // Checks every server's source against the interface and opens the
    // socket. False with the reason in error when the peer cannot run.
    bool Open(std::string& error);

    // Sends the rounds and listens until all datagrams are out and the linger
    // time has passed, or until stop is set. Returns false on a send failure
    // that makes the run meaningless (the datagram did not leave).
    bool Run(const std::atomic<bool>& stop);

private:
    struct Stream {
        ServerPlan plan;
        Ipv4 source{};  // 0.0.0.0 when sent from an interface without address
        std::vector<std::uint8_t> datagram;
        unsigned sent = 0;
        bool silenced = false;  // restarting: sends nothing more
    };

    bool SendRound(unsigned round, std::string& error);
    bool SendOne(Stream& stream, std::string& error);
    void ReceiveAll();
    void ReportDatagram(const std::vector<std::uint8_t>& bytes, std::size_t length, const std::string& from,
                        const std::string& to);
    bool HasMoreRounds(unsigned round) const;

    const PeerConfig& m_config;
    InterfaceInfo m_interface;
    RestartService* m_restart;
    std::vector<Stream> m_streams;
    int m_socket = -1;
    unsigned m_sentCount = 0;
    unsigned m_replyCount = 0;
};

}  // namespace peer
