// The server's web side once it runs with its new address: a small HTTP/1.0
// server on port 80 whose configuration form (POST /cgi-bin/config.html)
// needs basic authentication as root. Every request is reported, and kept
// byte for byte when a record folder is given; the answer to an authorised
// form POST (status, delay) is chosen by the peer's switches.
#pragma once

#include <atomic>
#include <string>

#include "bootp_wire.h"
#include "peer_options.h"
#include "tcp_service.h"

namespace peer {

class WebService final : public TcpService {
public:
    WebService(const ServiceConfig& config, const Ipv4& address, const std::atomic<bool>& stop);
    ~WebService() override { JoinAll(); }

private:
    void Serve(int fd, unsigned number) override;
};

// "Basic " + base64 credentials, decoded to "user:password"; empty when the
// header is not basic authentication or not valid base64.
std::string DecodeBasicCredentials(const std::string& headerValue);

}  // namespace peer
