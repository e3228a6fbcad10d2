// The server's FTP side once it runs with its new address: log-in as root,
// a name listing that the peer's switches choose (whatever name is asked
// for), and uploads in active mode (PORT) that are kept byte for byte for
// the tests, or refused, or cut off. Every command is reported.
#pragma once

#include <atomic>
#include <string>

#include "bootp_wire.h"
#include "peer_options.h"
#include "tcp_service.h"

namespace peer {

class FtpService final : public TcpService {
public:
    FtpService(const ServiceConfig& config, const Ipv4& address, const std::atomic<bool>& stop);
    ~FtpService() override { JoinAll(); }

private:
    void Serve(int fd, unsigned number) override;
};

// The address and port of a PORT argument "h1,h2,h3,h4,p1,p2".
bool ParsePortArgument(const std::string& text, Ipv4& address, unsigned& port);

}  // namespace peer
