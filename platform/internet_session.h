// The network thread's internet session: the user agent and the settings
// that every HTTP and FTP transfer of the program shares, and the few
// transfers the program makes (one form POST, one FTP log-in with a name
// search and a file write). libcurl on Linux, the system's own client
// (WinINet) on Windows. Each transfer has its own connection, so the HTTP
// store worker and the network thread's FTP store can use the session at
// the same time. Failures are results, never exceptions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessel {

// No transfer may outlive this, so that a worker whose starter has given
// up still ends; well above the 2.8 s that the HTTP store is waited for.
inline constexpr long kTransferTimeoutMs = 30000;

// One form POST: to `object` on host:port, logged in as user/password, with
// `headerText` (with its CR LF line ends) and `body` sent as given, HTTP/1.0,
// reloaded from the server and not written to any cache.
struct FormPost {
    std::string host;
    std::uint16_t port = 80;
    std::string object;
    std::string headerText;
    std::string body;
    std::string user;
    std::string password;
};

enum class FtpStoreOutcome { Stored, NotOpened, NotWritten };

// One logged-in FTP connection (active mode); closed when destroyed.
class FtpConnection {
public:
    virtual ~FtpConnection() = default;
    // The names the server lists for `pattern` in the login directory, in
    // its order; empty when it lists none or the search fails.
    virtual std::vector<std::string> FindFiles(const std::string& pattern) = 0;
    // Writes `content` as the file `name` (a plain name, checked by the
    // caller) in the login directory, ASCII
    // transfer type, replacing it. `onOpened` is called once the server has
    // opened the file for writing, before any byte goes out. NotOpened when
    // it never got that far, NotWritten when writing or closing failed.
    virtual FtpStoreOutcome StoreFile(const std::string& name, const std::string& content,
                                      const std::function<void()>& onOpened) = 0;
};

class InternetSession {
public:
    // The proxy settings are the system's: on Windows the preconfigured
    // ones, elsewhere the usual proxy environment variables.
    explicit InternetSession(std::string userAgent);
    ~InternetSession();
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    // False when the client library could not be set up; every transfer
    // then fails, which callers see as a failed connection.
    bool IsOpen() const;
    const std::string& UserAgent() const { return m_userAgent; }

    // Sends the POST and returns the final status code (after any
    // authentication or redirection exchange the client carries out
    // itself); empty when no connection was made or the send failed.
    // May be called from several threads at once.
    std::optional<long> PostForm(const FormPost& post) const;

    // Connects to host:port and logs in; null when the connection or the
    // log-in failed.
    std::unique_ptr<FtpConnection> ConnectFtp(const std::string& host, std::uint16_t port, const std::string& user,
                                              const std::string& password) const;

private:
    struct Client;
    std::string m_userAgent;
    std::unique_ptr<Client> m_client;
};

// The entries of a name listing, in the server's order: one per line
// (CR LF or LF), empty lines left out.
std::vector<std::string> ParseNameListing(const std::string& listing);

// The application's name as the session's user agent: this program's file
// name without its extension (the name its message boxes carry), or
// `fallback` where the system cannot tell it.
std::string ApplicationName(const std::string& fallback);

}  // namespace tessel
