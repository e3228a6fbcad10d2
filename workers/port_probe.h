// The port probe: a worker that verifies a server by opening one TCP
// connection to its web port and closing it again without sending a byte.
// The network thread uses it after the server's restart.
#pragma once

#include <memory>

#include "workers/hand_over.h"

namespace tessel {

// The worker's body: one blocking connect to request->port (80) of
// request->address, with the system's own connection time-out; result = 1
// when the connection was made and the record was not abandoned by then.
void PortProbeThread(std::shared_ptr<ProbeRequest> request);

// Starts PortProbeThread on a detached thread; false if none could be made.
bool StartPortProbe(std::shared_ptr<ProbeRequest> request);

}  // namespace tessel
