#include "service/back_off.h"

#include <algorithm>

namespace tessel::service {

std::int64_t BackOffMs(int strikes, std::int64_t divisor)
{
    std::int64_t ms = kFirstBackOffMs;
    for (int i = 1; i < strikes && ms < kBackOffCapMs; ++i) ms *= 2;
    if (ms > kBackOffCapMs) ms = kBackOffCapMs;
    return ms / (divisor < 1 ? 1 : divisor);
}

BackOff::Decision BackOff::OnRequest(const std::string& serial, std::int64_t NowMs)
{
    Server& server = m_servers[serial];
    Decision decision;
    if (NowMs < server.untilMs) {
        decision.kind = server.told ? Decision::Hold : Decision::HoldAndTell;
        server.told = true;
        decision.untilMs = server.untilMs;
        decision.strikes = server.strikes;
        return decision;
    }
    if (server.lastGood && server.jobEndMs >= 0 && NowMs - server.jobEndMs < kSoonAfterJobMs / m_divisor) {
        // It asks again although its job has just ended well: what was
        // stored did not hold (or it restarts in a loop). A strike. (After a
        // failed job it asks as it must; its back-off has passed.)
        ++server.strikes;
        server.untilMs = NowMs + BackOffMs(server.strikes, m_divisor);
        server.told = true;
        server.jobEndMs = -1;
        server.lastGood = false;
        decision.kind = Decision::HoldAndTell;
        decision.untilMs = server.untilMs;
        decision.strikes = server.strikes;
        decision.soonAfterJob = true;
        return decision;
    }
    // A good end that lasted clears the strikes.
    if (server.lastGood) server.strikes = 0;
    return decision;
}

std::int64_t BackOff::OnJobEnded(const std::string& serial, std::int64_t NowMs, bool good)
{
    Server& server = m_servers[serial];
    server.jobEndMs = NowMs;
    server.lastGood = good;
    server.told = false;
    if (good) {
        server.untilMs = 0;
        return 0;
    }
    ++server.strikes;
    server.untilMs = NowMs + BackOffMs(server.strikes, m_divisor);
    return server.untilMs;
}

void BackOff::Restore(const std::string& serial, int strikes, std::int64_t untilMs, std::int64_t NowMs)
{
    Server& server = m_servers[serial];
    server.strikes = strikes < 0 ? 0 : strikes;
    server.untilMs = std::min(untilMs, NowMs + kBackOffCapMs / m_divisor);
    server.told = false;
}

int BackOff::HeldAt(std::int64_t NowMs) const
{
    int held = 0;
    for (const auto& [serial, server] : m_servers)
        if (NowMs < server.untilMs) ++held;
    return held;
}

}  // namespace tessel::service
