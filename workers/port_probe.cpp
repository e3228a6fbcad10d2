#include "workers/port_probe.h"

#include <string>

#include "platform/tcp_connect.h"

namespace tessel {

void PortProbeThread(std::shared_ptr<ProbeRequest> request)
{
    if (!request) return;
    const std::string address = request->address;

    if (ConnectAndClose(address, request->port)) request->Report(1);
}

bool StartPortProbe(std::shared_ptr<ProbeRequest> request)
{
    return StartDetached([request = std::move(request)]() mutable { PortProbeThread(std::move(request)); });
}

}  // namespace tessel
