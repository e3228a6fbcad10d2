#include "tcp_service.h"

#include <unistd.h>

#include "report.h"
#include "tcp_link.h"

namespace peer {

namespace {
// How often the acceptor looks at the stop flag.
constexpr int kAcceptStepMs = 200;
}  // namespace

TcpService::TcpService(const ServiceConfig& config, const Ipv4& address, unsigned port, std::atomic<unsigned>& counter,
                       const char* label, const std::atomic<bool>& stop)
    : m_config(config), m_address(address), m_stop(stop), m_port(port), m_counter(counter), m_label(label)
{}

TcpService::~TcpService()
{
    JoinAll();
    if (m_listener >= 0) close(m_listener);
}

void TcpService::JoinAll()
{
    if (m_acceptor.joinable()) m_acceptor.join();
    std::vector<std::thread> connections;
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        connections.swap(m_connections);
    }
    for (auto& connection : connections) connection.join();
}

bool TcpService::Start(std::string& error)
{
    m_listener = ListenOn(m_address, m_port, error);
    if (m_listener < 0) return false;
    m_acceptor = std::thread([this] { AcceptLoop(); });
    return true;
}

void TcpService::AcceptLoop()
{
    while (!m_stop.load()) {
        const int fd = AcceptWithin(m_listener, kAcceptStepMs);
        if (fd < 0) continue;
        const unsigned number = ++m_counter;
        ReportLine(std::string(m_label) + " n=" + std::to_string(number) + " from=" + RemoteName(fd));
        const std::lock_guard<std::mutex> hold(m_lock);
        m_connections.emplace_back([this, fd, number] { Serve(fd, number); });
    }
}

}  // namespace peer
