#include "workers/icmp_probe.h"

#include <string>

namespace tessel {

void IcmpProbeThread(std::shared_ptr<ProbeRequest> request)
{
    if (!request) return;
    const std::string address = request->address;
    const IcmpAnswer answer = IcmpEcho(address, kIcmpProbeTimeoutMs);
    if (answer == IcmpAnswer::Answered)
        request->Report(1);
    else if (answer != IcmpAnswer::NoAnswer)
        request->ReportUnchecked(static_cast<std::int32_t>(answer));
}

bool StartIcmpProbe(std::shared_ptr<ProbeRequest> request)
{
    return StartDetached([request = std::move(request)]() mutable { IcmpProbeThread(std::move(request)); });
}

IcmpAnswer ProbeAnswer(const ProbeRequest& request, bool started)
{
    if (!started) return IcmpAnswer::NotSent;
    if (request.result.load() != 0) return IcmpAnswer::Answered;
    const std::int32_t why = request.unchecked.load();
    return why == 0 ? IcmpAnswer::NoAnswer : static_cast<IcmpAnswer>(why);
}

}  // namespace tessel
