#include "platform/internet_session.h"

#include <windows.h>
#include <wininet.h>

#include <utility>


namespace tessel {

namespace {

// The context value every request carries; nothing here is asynchronous,
// so it only has to be non-zero.
constexpr DWORD_PTR kContext = 1;
// Each search and open asks the server afresh and keeps nothing in the
// cache: the servers' files and forms change under us.
constexpr DWORD kFreshFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
// A server that lists more names than this for one pattern is not read on.
constexpr std::size_t kMaxListedNames = 1024;

class Handle {
public:
    explicit Handle(HINTERNET handle = nullptr) : m_handle(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : m_handle(other.m_handle) { other.m_handle = nullptr; }
    HINTERNET get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    // False when the client reports a failure while closing (for a file
    // written on an FTP server: the server did not confirm the transfer).
    bool Close()
    {
        if (m_handle == nullptr) return true;
        const bool ok = ::InternetCloseHandle(m_handle) != FALSE;
        m_handle = nullptr;
        return ok;
    }

private:
    HINTERNET m_handle;
};

class WinInetFtpConnection final : public FtpConnection {
public:
    explicit WinInetFtpConnection(Handle connection) : m_connection(std::move(connection)) {}

    std::vector<std::string> FindFiles(const std::string& pattern) override
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA entry{};
        // No search handle means nothing was found, whatever the last error
        // says: the client gives a missing name as "no more files" or as the
        // server's own error text, depending on how the server answers.
        Handle search(::FtpFindFirstFileA(m_connection.get(), pattern.c_str(), &entry, kFreshFlags, kContext));
        if (!search) return names;
        do {
            names.emplace_back(entry.cFileName);
        } while (names.size() < kMaxListedNames && ::InternetFindNextFileA(search.get(), &entry));
        // The client allows one open search or file per FTP connection.
        search.Close();
        return names;
    }

    FtpStoreOutcome StoreFile(const std::string& name, const std::string& content,
                              const std::function<void()>& onOpened) override
    {
        Handle file(::FtpOpenFileA(m_connection.get(), name.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_ASCII, kContext));
        if (!file) return FtpStoreOutcome::NotOpened;
        if (onOpened) onOpened();
        std::size_t offset = 0;
        while (offset < content.size()) {
            DWORD written = 0;
            if (!::InternetWriteFile(file.get(), content.data() + offset, static_cast<DWORD>(content.size() - offset),
                                     &written) ||
                written == 0)
                return FtpStoreOutcome::NotWritten;
            offset += written;
        }
        // Closing ends the data connection and reads the server's verdict.
        return file.Close() ? FtpStoreOutcome::Stored : FtpStoreOutcome::NotWritten;
    }

private:
    Handle m_connection;
};

}  // namespace

// The client's session handle: connections from several threads may be
// opened through it at once.
struct InternetSession::Client {
    explicit Client(Handle handle) : session(std::move(handle)) {}
    Handle session;
};

InternetSession::InternetSession(std::string userAgent) : m_userAgent(std::move(userAgent))
{
    Handle session(::InternetOpenA(m_userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return;
    // Every connect, send and receive is bounded, so that a worker whose
    // starter has given up still ends.
    DWORD timeout = static_cast<DWORD>(kTransferTimeoutMs);
    for (const DWORD option :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
          INTERNET_OPTION_DATA_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT})
        ::InternetSetOptionA(session.get(), option, &timeout, sizeof timeout);
    m_client = std::make_unique<Client>(std::move(session));
}

InternetSession::~InternetSession() = default;

bool InternetSession::IsOpen() const
{
    return m_client != nullptr;
}

std::optional<long> InternetSession::PostForm(const FormPost& post) const
{
    if (!m_client) return std::nullopt;
    Handle connection(::InternetConnectA(m_client->session.get(), post.host.c_str(), post.port, post.user.c_str(),
                                         post.password.c_str(), INTERNET_SERVICE_HTTP, 0, kContext));
    if (!connection) return std::nullopt;
    Handle request(::HttpOpenRequestA(connection.get(), "POST", post.object.c_str(), "HTTP/1.0", nullptr, nullptr,
                                      kFreshFlags, kContext));
    if (!request) return std::nullopt;
    // Header and body go with their exact lengths: no terminating zero.
    if (!::HttpSendRequestA(request.get(), post.headerText.data(), static_cast<DWORD>(post.headerText.size()),
                            const_cast<char*>(post.body.data()), static_cast<DWORD>(post.body.size())))
        return std::nullopt;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return std::nullopt;
    return static_cast<long>(status);
}

std::unique_ptr<FtpConnection> InternetSession::ConnectFtp(const std::string& host, std::uint16_t port,
                                                           const std::string& user, const std::string& password) const
{
    if (!m_client) return nullptr;
    // Active mode (no passive flag): the server connects back for each
    // transfer. The client logs in here, so a wrong password fails here.
    Handle connection(::InternetConnectA(m_client->session.get(), host.c_str(), port, user.c_str(), password.c_str(),
                                         INTERNET_SERVICE_FTP, 0, kContext));
    if (!connection) return nullptr;
    return std::make_unique<WinInetFtpConnection>(std::move(connection));
}

}  // namespace tessel
