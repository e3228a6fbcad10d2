// What the program needs from the system beyond an ordinary user's rights,
// and the advice that tells a user how to give it without running as root.
// One text for every front end, so that each names the same capabilities.
#pragma once

#include <string>

namespace tessel {

// The capabilities, in setcap's spelling: port 67, ICMP, the neighbour table.
inline constexpr const char* kNeededCapabilities = "cap_net_bind_service,cap_net_raw,cap_net_admin";

// The path of the running program, for a command the user can paste;
// `fallback` when the system does not tell.
std::string RunningProgramPath(const std::string& fallback);

// Lines (joined by "\n", no line feed at the end) that name each needed
// capability with what it is for, and the setcap command for `program`.
std::string CapabilitiesAdvice(const std::string& program);

}  // namespace tessel
