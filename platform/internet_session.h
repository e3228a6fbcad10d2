// The network thread's internet session: the user agent and the settings
// that every HTTP and FTP transfer of the program shares. Each transfer
// gets its own handle from it, so the HTTP store worker and the network
// thread's FTP store can use the session at the same time.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

namespace tessel {

// No transfer may outlive this, so that a worker whose starter has given
// up still ends; well above the 2.8 s that the HTTP store is waited for.
inline constexpr long kTransferTimeoutMs = 30000;

struct CurlHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlHandleDeleter>;

class InternetSession {
public:
    // The proxy settings are the system's: the usual proxy environment
    // variables (http_proxy, ftp_proxy, all_proxy, no_proxy), which the
    // transfer library reads for every transfer that names no proxy itself.
    explicit InternetSession(std::string userAgent);
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    // False when the transfer library could not be set up; every transfer
    // then fails, which callers see as a failed connection.
    bool IsOpen() const { return m_open; }
    const std::string& UserAgent() const { return m_userAgent; }

    // A new transfer handle with the session's settings (user agent, no
    // signals, the overall time-out); empty when none could be made. May be
    // called from several threads at once.
    CurlHandle OpenTransfer() const;

private:
    std::string m_userAgent;
    bool m_open;
};

// The application's name as the session's user agent: this program's file
// name without its extension (the name its message boxes carry), or
// `fallback` where the system cannot tell it.
std::string ApplicationName(const std::string& fallback);

}  // namespace tessel
