// What a server does when it hears a reply meant for it: it restarts. After
// a while the reply's address replaces the one it asked from on its
// interface (the kernel then answers ICMP there), and its web and FTP
// services open on that address. Only the first reply restarts a server.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "bootp_wire.h"
#include "ftp_service.h"
#include "netif.h"
#include "peer_options.h"
#include "web_service.h"

namespace peer {

class RestartService {
public:
    RestartService(const PeerConfig& config, const InterfaceInfo& interface, const std::atomic<bool>& stop);
    ~RestartService();  // waits for pending restarts and open services
    RestartService(const RestartService&) = delete;
    RestartService& operator=(const RestartService&) = delete;

    // A reply with this server's MAC and xid arrived. True when it starts
    // the server's restart (the first such reply, unless replies are ignored).
    bool OnReply(const Mac& mac, const Ipv4& newAddress, const Ipv4& askedFrom);

    // The address the server has taken, once it is up on the interface.
    // Holds off while the interface is being changed, so a request is never
    // sent from an address that is just going away.
    std::optional<Ipv4> TakenAddress(const Mac& mac);

    // True once any server has begun to restart: the peer then runs until
    // it is stopped, so its services stay open.
    bool Restarting() const { return m_restarting.load(); }

private:
    void Restart(Mac mac, Ipv4 newAddress, Ipv4 askedFrom);

    const PeerConfig& m_config;
    InterfaceInfo m_interface;
    const std::atomic<bool>& m_stop;
    std::atomic<bool> m_restarting{false};
    std::mutex m_lock;  // the maps, the services and the interface's addresses
    std::map<Mac, bool> m_started;
    std::map<Mac, Ipv4> m_taken;
    std::vector<std::thread> m_threads;
    std::vector<std::unique_ptr<WebService>> m_web;
    std::vector<std::unique_ptr<FtpService>> m_ftp;
};

}  // namespace peer
