#include "workers/icmp_probe.h"

#include <string>

#include "platform/icmp.h"

namespace tessel {

void IcmpProbeThread(std::shared_ptr<ProbeRequest> request)
{
    if (!request) return;
    const std::string address = request->address;
    if (IcmpEcho(address, kIcmpProbeTimeoutMs) != 0) request->Report(1);
}

bool StartIcmpProbe(std::shared_ptr<ProbeRequest> request)
{
    return StartDetached([request = std::move(request)]() mutable { IcmpProbeThread(std::move(request)); });
}

}  // namespace tessel
