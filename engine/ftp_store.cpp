#include "engine/ftp_store.h"

#include <cctype>
#include <cstring>

#include "engine/shared_state.h"
#include "log/events.h"
#include "log/logfile.h"
#include "platform/internet_session.h"
#include "workers/server_login.h"

namespace tessel {

namespace {

bool EqualsIgnoringCase(const std::string& a, const char* b)
{
    const std::size_t size = std::strlen(b);
    if (a.size() != size) return false;
    for (std::size_t i = 0; i < size; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

bool IsPlainFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) return false;
    }
    return true;
}

std::optional<std::string> ConfigFileName(const std::vector<std::string>& entries)
{
    if (entries.empty()) return std::nullopt;
    if (entries.size() == 1) return std::string(kConfigName);
    return entries.front();
}

std::optional<std::string> ConfigFileContent(const std::string& fileName, const std::string& address)
{
    if (EqualsIgnoringCase(fileName, kConfigName)) return kConfigPrefix + address + " \r\n";
    if (EqualsIgnoringCase(fileName, kConfigIniName)) return kConfigIniPrefix + address + " \r\n";
    return std::nullopt;
}

void StoreOverFtp(const std::string& address, InternetSession& session, SharedState& shared, std::uint16_t port)
{
    const auto log = [&shared](int code, std::string value = {}) { LogEvent(shared.logFile, code, std::move(value)); };
    log(EvFtpStoreStarted);

    // Leaving this function by any path closes the connection.
    const std::unique_ptr<FtpConnection> connection = session.ConnectFtp(address, port, kServerUser, kServerPassword);
    if (!connection) {
        log(EvFtpConnectFailed);
        return;
    }
    log(EvFtpConnected);

    const std::optional<std::string> fileName = ConfigFileName(connection->FindFiles(kConfigName));
    if (!fileName) {
        log(EvFtpNotFound);
        log(EvFtpStoreFinished);
        return;
    }
    log(EvFtpFileName, *fileName);

    // A first entry that is neither of the two known files has no format:
    // nothing is written, and the outcome is told as a failed open.
    const std::optional<std::string> content = ConfigFileContent(*fileName, address);
    if (!content) {
        log(EvFtpOpenFailed);
        log(EvFtpStoreFinished);
        return;
    }

    // The name is the server's own text and must name a file in the login
    // directory: a name with a separator would move the write elsewhere, a
    // control character would end the command line. Such a name is refused
    // as a failed open.
    const FtpStoreOutcome outcome = IsPlainFileName(*fileName)
                                        ? connection->StoreFile(*fileName, *content, [&log] { log(EvFtpFileOpened); })
                                        : FtpStoreOutcome::NotOpened;
    switch (outcome) {
    case FtpStoreOutcome::NotOpened:
        log(EvFtpOpenFailed);
        log(EvFtpStoreFinished);
        return;
    case FtpStoreOutcome::NotWritten:
        log(EvFtpWriteFailed);
        log(EvFtpStoreFinished);
        return;
    case FtpStoreOutcome::Stored:
        break;
    }
    RaiseStage(shared, StageStored);
    log(EvFtpStoreFinished);
    log(EvPermanentSuccess, address);
}

}  // namespace tessel
