// One listening service of the simulated server: it accepts connections on
// its address and port until the peer stops, and serves each one on a
// thread of its own, so a slow answer never holds up the next client (the
// program gives up on the web form after 2.8 s and goes on to FTP).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bootp_wire.h"
#include "peer_options.h"

namespace peer {

class TcpService {
public:
    // `counter` numbers the connections across the whole peer, so that the
    // record files of several servers never clash; `label` starts the line
    // reported for each connection ("WEB connection", "FTP session").
    TcpService(const ServiceConfig& config, const Ipv4& address, unsigned port, std::atomic<unsigned>& counter,
               const char* label, const std::atomic<bool>& stop);
    virtual ~TcpService();
    TcpService(const TcpService&) = delete;
    TcpService& operator=(const TcpService&) = delete;

    bool Start(std::string& error);

protected:
    virtual void Serve(int fd, unsigned number) = 0;
    // Waits for the acceptor and every connection in hand. A derived service
    // calls it from its own destructor, while Serve() can still be called.
    void JoinAll();

    const ServiceConfig& m_config;
    Ipv4 m_address;
    const std::atomic<bool>& m_stop;

private:
    void AcceptLoop();

    unsigned m_port;
    std::atomic<unsigned>& m_counter;
    const char* m_label;
    int m_listener = -1;
    std::thread m_acceptor;
    std::mutex m_lock;
    std::vector<std::thread> m_connections;
};

}  // namespace peer
