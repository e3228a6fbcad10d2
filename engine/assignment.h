// The seam between the receive loop and the address-assignment procedure:
// the loop hands the chosen server's request over, the procedure answers,
// follows the restart and stores the address, then gives the loop back.
#pragma once

#include <memory>
#include <string>

#include "engine/bootp.h"

namespace tessel {

class BootpChannel;
class InternetSession;
struct SharedState;

// What the procedure may use of the network thread.
struct AssignmentContext {
    SharedState& shared;
    BootpChannel& channel;
    std::shared_ptr<InternetSession> session;  // the thread's internet session, for the stores; may be null
};

enum class AssignmentEnd { BackToListening, StopThread };

class AssignmentProcedure {
public:
    virtual ~AssignmentProcedure() = default;
    // `message` is the chosen server's request; its buffer becomes the reply.
    virtual AssignmentEnd Run(AssignmentContext& context, BootpMessage& message, const std::string& serial,
                              const std::string& desiredAddress) = 0;
};

}  // namespace tessel
