// The ICMP echo probe: a worker that asks whether any device answers on an
// address, with one echo request and up to 4000 ms of waiting. The Set-IP
// command uses it before and after an assignment.
#pragma once

#include <memory>

#include "workers/hand_over.h"

namespace tessel {

// How long the probe waits for the reply to its one request.
inline constexpr int kIcmpProbeTimeoutMs = 4000;

// The worker's body: result = 1 when an echo reply came in time and the
// record was not abandoned by then. Returns when the probe is over.
void IcmpProbeThread(std::shared_ptr<ProbeRequest> request);

// Starts IcmpProbeThread on a detached thread; false if none could be made.
bool StartIcmpProbe(std::shared_ptr<ProbeRequest> request);

}  // namespace tessel
