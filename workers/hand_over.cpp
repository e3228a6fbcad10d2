#include "workers/hand_over.h"

#include <system_error>
#include <thread>

#include "platform/clock.h"

namespace tessel {

bool ProbeRequest::Store(std::atomic<std::int32_t>& field, std::int32_t value)
{
    std::lock_guard<std::mutex> guard(m_handOver);
    if (abandoned.load()) return false;
    field.store(value);
    return true;
}

bool ProbeRequest::Report(std::int32_t value)
{
    return Store(result, value);
}

bool ProbeRequest::ReportUnchecked(std::int32_t reason)
{
    return Store(unchecked, reason);
}

std::int32_t ProbeRequest::Abandon()
{
    std::lock_guard<std::mutex> guard(m_handOver);
    abandoned.store(true);
    return result.load();
}

std::int32_t AwaitOutcome(ProbeRequest& request, Clock& clock, int steps)
{
    for (int step = 0; step < steps; ++step) {
        clock.SleepMs(kPollStepMs);
        if (request.result.load() != 0 || request.unchecked.load() != 0) break;
    }
    return request.Abandon();
}


bool StartDetached(std::function<void()> work)
{
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace tessel
