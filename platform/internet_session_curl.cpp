#include "platform/internet_session.h"

#include <filesystem>
#include <mutex>
#include <system_error>


namespace tessel {

namespace {

// The library's global set-up is done once per process, before the first
// handle, whichever thread gets there first; it is never undone because
// late workers may still hold handles when the program ends.
bool GlobalInit()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = (curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK); });
    return ok;
}

}  // namespace

InternetSession::InternetSession(std::string userAgent) : m_userAgent(std::move(userAgent)), m_open(GlobalInit()) {}

CurlHandle InternetSession::OpenTransfer() const
{
    if (!m_open) return CurlHandle{};
    CurlHandle handle(curl_easy_init());
    if (!handle) return handle;
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_USERAGENT, m_userAgent.c_str());
    // Time-outs must not use signals in a program with several threads.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
    return handle;
}

std::string ApplicationName(const std::string& fallback)
{
    std::error_code error;
#ifdef __linux__
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && !self.stem().empty()) return self.stem().string();
#endif
    return fallback;
}

}  // namespace tessel
