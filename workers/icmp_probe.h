// The ICMP echo probe: a worker that asks whether any device answers on an
// address, with one echo request and up to 4000 ms of waiting. The Set-IP
// command uses it before and after an assignment.
#pragma once

#include <memory>

#include "platform/icmp.h"
#include "workers/hand_over.h"

namespace tessel {

// How long the probe waits for the reply to its one request.
inline constexpr int kIcmpProbeTimeoutMs = 4000;

// The worker's body: result = 1 when an echo reply came in time; when the
// request could not be sent at all, `unchecked` holds why (an IcmpAnswer).
// Nothing is written once the record is abandoned. Returns when it is over.
void IcmpProbeThread(std::shared_ptr<ProbeRequest> request);

// Starts IcmpProbeThread on a detached thread; false if none could be made.
bool StartIcmpProbe(std::shared_ptr<ProbeRequest> request);

// The starter's reading of an abandoned record: Answered, NoAnswer, or why
// the question was never asked. `started` false (no worker thread) is
// NotSent: nobody looked.
IcmpAnswer ProbeAnswer(const ProbeRequest& request, bool started = true);

}  // namespace tessel
