// The administrator log-in that the servers' web form and FTP service both
// accept; fixed in the system.
#pragma once

namespace tessel {

inline constexpr const char* kServerUser = "root";
inline constexpr const char* kServerPassword = "wxyz";

}  // namespace tessel
