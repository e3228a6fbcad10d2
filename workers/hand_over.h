// The hand-over records between a thread and the short-lived worker it
// starts: the starter fills one, the worker writes one result into it, and
// the starter abandons it once it has decided. Shared ownership keeps a late
// worker writing into its own, abandoned record and never into a newer one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tessel {

class Clock;
class InternetSession;

// The servers' web port: the port probe's and the HTTP store's target.
inline constexpr std::uint16_t kWebPort = 80;
// The starter's polling step while it waits for a worker.
inline constexpr std::int64_t kPollStepMs = 140;

struct ProbeRequest {
    // 0 until the worker reports success (1). Polled without a lock.
    std::atomic<std::int32_t> result{0};
    // Set instead of `result` when the worker could not make its check at
    // all (the ICMP probe without permission): `result` 0 then means "not
    // looked", never "no answer". 0 while the check could be made; else the
    // worker's reason. Written and abandoned as `result` is.
    std::atomic<std::int32_t> unchecked{0};
    // Set by the starter when it stops waiting; the worker then writes nothing.
    std::atomic<bool> abandoned{false};
    // The target as dotted decimal text; the worker copies it first thing.
    std::string address;
    // The TCP port the port probe and the HTTP store use. The product never
    // changes it; tests point it at a loopback server.
    std::uint16_t port = kWebPort;

    ProbeRequest() = default;
    explicit ProbeRequest(std::string target) : address(std::move(target)) {}
    ProbeRequest(const ProbeRequest&) = delete;
    ProbeRequest& operator=(const ProbeRequest&) = delete;

    // Worker side: stores `value` unless the record was abandoned. The check
    // and the write are one step with Abandon(), so a worker can never slip
    // a result in after the starter has taken its decision. True if stored.
    bool Report(std::int32_t value);
    // Worker side: the check could not be made, for `reason` (non-zero).
    bool ReportUnchecked(std::int32_t reason);

    // Starter side: marks the record abandoned and returns `result` as it
    // stood at that moment, which is the outcome. Later reports are lost.
    std::int32_t Abandon();

private:
    bool Store(std::atomic<std::int32_t>& field, std::int32_t value);

    std::mutex m_handOver;
};

// A ProbeRequest that also carries the internet session for the HTTP store.
// The session is shared so that it lives as long as a slow worker uses it,
// even past the end of the thread that created it.
struct StoreRequest : ProbeRequest {
    std::shared_ptr<InternetSession> session;

    StoreRequest() = default;
    StoreRequest(std::string target, std::shared_ptr<InternetSession> internet)
        : ProbeRequest(std::move(target)), session(std::move(internet))
    {}
};

// The starter's wait: up to `steps` sleeps of 140 ms, stopping at the first
// look that finds `result` non-zero or the check reported as not made; then
// abandons the record and returns the outcome (non-zero for success).
std::int32_t AwaitOutcome(ProbeRequest& request, Clock& clock, int steps);

// Runs `work` on a new detached thread: workers are never joined. False
// when the system could not make a thread; the record's result then simply
// stays 0, as for a worker that found nothing.
bool StartDetached(std::function<void()> work);

}  // namespace tessel
