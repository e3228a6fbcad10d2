// The server's FTP side once it runs with its new address: log-in as root,
// a name listing that the peer's switches choose (whatever name is asked
// for), and uploads in active mode (PORT) that are kept byte for byte for
// the tests, or refused, or cut off. Every command is reported.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bootp_wire.h"
#include "peer_options.h"

namespace peer {

class FtpService {
public:
    FtpService(const ServiceConfig& config, const Ipv4& address, const std::atomic<bool>& stop);
    ~FtpService();  // waits for the sessions in hand
    FtpService(const FtpService&) = delete;
    FtpService& operator=(const FtpService&) = delete;

    bool Start(std::string& error);

private:
    void AcceptLoop();
    void Session(int fd, unsigned number);

    const ServiceConfig& m_config;
    Ipv4 m_address;
    const std::atomic<bool>& m_stop;
    int m_listener = -1;
    std::thread m_acceptor;
    std::mutex m_lock;
    std::vector<std::thread> m_sessions;
};

// The address and port of a PORT argument "h1,h2,h3,h4,p1,p2".
bool ParsePortArgument(const std::string& text, Ipv4& address, unsigned& port);

}  // namespace peer
