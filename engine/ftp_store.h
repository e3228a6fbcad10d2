// The FTP route for making a new address permanent: log in to the server's
// FTP service at its new address and replace its configuration file with
// one that holds nothing but that address. The network thread takes it
// when the HTTP store was not confirmed in time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/internet_session.h"

namespace tessel {

struct SharedState;

inline constexpr std::uint16_t kFtpPort = 21;
// The only name searched for; a search that lists exactly one entry means
// this file, whatever the entry is called.
inline constexpr const char* kConfigName = "CONFIG";
// The other name a server may list first, with its own format.
inline constexpr const char* kConfigIniName = "config.ini";
// What comes before the address in each format; " \r\n" follows it.
inline constexpr const char* kConfigPrefix = "INT_ADDR.    : ";
inline constexpr const char* kConfigIniPrefix = "[IP] \r\nInternetAddress       = ";

// The file to write, from the entries listed for "CONFIG": "CONFIG" when
// there is exactly one, else the first entry's name as the server gave it.
// Empty when nothing was listed.
std::optional<std::string> ConfigFileName(const std::vector<std::string>& entries);

// A name that stays in the login directory and on one command line: not
// empty, not "." or "..", no "/", no "\\" and no control character. Any
// other server-given name is never written.
bool IsPlainFileName(const std::string& name);

// The whole new file for `address`, in the format that `fileName` selects
// (compared ignoring case). Empty for a name that selects no format: such a
// file is never written.
std::optional<std::string> ConfigFileContent(const std::string& fileName, const std::string& address);

// The route itself, on the calling thread. Writes events 16 to 21, -8 to
// -10 and 15 to shared.logFile; on success sets shared.stage to 5 under
// shared.stateLock. Returns in every case with the connection closed.
// `port` is the server's FTP port; only tests give another one.
void StoreOverFtp(const std::string& address, InternetSession& session, SharedState& shared,
                  std::uint16_t port = kFtpPort);

}  // namespace tessel
