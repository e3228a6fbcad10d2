// The server's web side once it runs with its new address: a small HTTP/1.0
// server on port 80 whose configuration form (POST /cgi-bin/config.html)
// needs basic authentication as root. Every request is reported, and kept
// byte for byte when a record folder is given; the answer to an authorised
// form POST (status, delay) is chosen by the peer's switches.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bootp_wire.h"
#include "peer_options.h"

namespace peer {

class WebService {
public:
    WebService(const ServiceConfig& config, const Ipv4& address, const std::atomic<bool>& stop);
    ~WebService();  // waits for the connections in hand
    WebService(const WebService&) = delete;
    WebService& operator=(const WebService&) = delete;

    bool Start(std::string& error);

private:
    void AcceptLoop();
    void Serve(int fd, unsigned number);

    const ServiceConfig& m_config;
    Ipv4 m_address;
    const std::atomic<bool>& m_stop;
    int m_listener = -1;
    std::thread m_acceptor;
    std::mutex m_lock;
    std::vector<std::thread> m_connections;
};

// "Basic " + base64 credentials, decoded to "user:password"; empty when the
// header is not basic authentication or not valid base64.
std::string DecodeBasicCredentials(const std::string& headerValue);

}  // namespace peer
