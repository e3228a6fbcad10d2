#include "platform/internet_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace tessel {

namespace {

// A listing is a few short names; a server that sends more than this is
// not listed further (the first entries are all the route needs).
constexpr std::size_t kMaxListingBytes = 64 * 1024;

struct CurlHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlHandleDeleter>;

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
};

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

// The response body is not needed; swallow it.
std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*)
{
    return size * count;
}

struct Listing {
    std::string text;
    bool full = false;
};

std::size_t CollectListing(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* listing = static_cast<Listing*>(user);
    const std::size_t bytes = size * count;
    if (listing->text.size() + bytes > kMaxListingBytes) {
        listing->full = true;
        return 0;  // ends the transfer
    }
    listing->text.append(data, bytes);
    return bytes;
}

struct Upload {
    const std::string* content = nullptr;
    std::size_t offset = 0;
    bool opened = false;
    const std::function<void()>* onOpened = nullptr;
};

// The library asks for the file's bytes only once the server has taken the
// STOR command and the data connection stands: that is the file opened.
std::size_t SupplyContent(char* buffer, std::size_t size, std::size_t count, void* user)
{
    auto* upload = static_cast<Upload*>(user);
    if (!upload->opened) {
        upload->opened = true;
        if (upload->onOpened && *upload->onOpened) (*upload->onOpened)();
    }
    const std::size_t bytes = std::min(size * count, upload->content->size() - upload->offset);
    std::memcpy(buffer, upload->content->data() + upload->offset, bytes);
    upload->offset += bytes;
    return bytes;
}

// All requests of one FTP connection go over one handle, which keeps the
// control connection (and the log-in) from one to the next; destroying the
// handle closes it (with QUIT when the server still listens).
class CurlFtpConnection final : public FtpConnection {
public:
    CurlFtpConnection(CurlHandle handle, std::string root) : m_handle(std::move(handle)), m_root(std::move(root)) {}

    // Connects and logs in, transferring nothing, so that "connected" means
    // the server took our user and password.
    bool LogIn(const std::string& user, const std::string& password)
    {
        CURL* h = m_handle.get();
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
        // Active mode: the server connects back to us for each transfer. PORT
        // rather than EPRT, as the servers' own clients speak it.
        curl_easy_setopt(h, CURLOPT_FTPPORT, "-");
        curl_easy_setopt(h, CURLOPT_FTP_USE_EPRT, 0L);
        curl_easy_setopt(h, CURLOPT_URL, m_root.c_str());
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        return curl_easy_perform(h) == CURLE_OK;
    }

    // Servers answer a missing name with an empty list or with 450 (which
    // the library takes as an empty list); any other failure finds nothing
    // either.
    std::vector<std::string> FindFiles(const std::string& pattern) override
    {
        CURL* h = m_handle.get();
        Listing listing;
        curl_easy_setopt(h, CURLOPT_URL, m_root.c_str());
        curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, ("NLST " + pattern).c_str());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectListing);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &listing);
        const CURLcode rc = curl_easy_perform(h);
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, nullptr);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
        if (rc != CURLE_OK && !listing.full) return {};
        return ParseNameListing(listing.text);
    }

    FtpStoreOutcome StoreFile(const std::string& name, const std::string& content,
                              const std::function<void()>& onOpened) override
    {
        CURL* h = m_handle.get();
        // The caller gives only a plain name of the login directory. The
        // library decodes the whole path before it splits it at "/", so the
        // upload goes out as one STOR without any CWD.
        char* escaped = curl_easy_escape(h, name.c_str(), static_cast<int>(name.size()));
        if (!escaped) return FtpStoreOutcome::NotOpened;
        const std::string url = m_root + escaped;
        curl_free(escaped);

        Upload upload;
        upload.content = &content;
        upload.onOpened = &onOpened;
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        // ASCII transfer. The library's own ASCII mode would turn each LF of
        // the content into CR LF once more (CR CR LF on the wire), so it
        // sends the file as is, and "TYPE A" goes out last before STOR.
        curl_slist* typeAscii = curl_slist_append(nullptr, "TYPE A");
        if (!typeAscii) return FtpStoreOutcome::NotOpened;
        curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);
        curl_easy_setopt(h, CURLOPT_PREQUOTE, typeAscii);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, SupplyContent);
        curl_easy_setopt(h, CURLOPT_READDATA, &upload);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(content.size()));
        const CURLcode rc = curl_easy_perform(h);
        curl_easy_setopt(h, CURLOPT_PREQUOTE, nullptr);
        curl_slist_free_all(typeAscii);
        if (!upload.opened) return FtpStoreOutcome::NotOpened;
        return rc == CURLE_OK ? FtpStoreOutcome::Stored : FtpStoreOutcome::NotWritten;
    }

private:
    CurlHandle m_handle;
    std::string m_root;
};

}  // namespace

// The library keeps no state of the session: each transfer gets its own
// handle with the session's settings.
struct InternetSession::Client {
    CurlHandle OpenTransfer(const std::string& userAgent) const
    {
        CurlHandle handle(curl_easy_init());
        if (!handle) return handle;
        CURL* h = handle.get();
        curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str());
        // Time-outs must not use signals in a program with several threads.
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
        return handle;
    }
};

InternetSession::InternetSession(std::string userAgent)
    : m_userAgent(std::move(userAgent)), m_client(GlobalInit() ? std::make_unique<Client>() : nullptr)
{}

InternetSession::~InternetSession() = default;

bool InternetSession::IsOpen() const
{
    return m_client != nullptr;
}

std::optional<long> InternetSession::PostForm(const FormPost& post) const
{
    if (!m_client) return std::nullopt;
    CurlHandle transfer = m_client->OpenTransfer(m_userAgent);
    if (!transfer) return std::nullopt;
    CURL* h = transfer.get();

    const std::string url = "http://" + post.host + ":" + std::to_string(post.port) + post.object;
    // The library ends every header line itself, so it gets each line
    // without its CR LF; on the wire it is the same text. Naming the content
    // type here also keeps the library from adding its own.
    HeaderList headers;
    std::size_t start = 0;
    while (start < post.headerText.size()) {
        std::size_t end = post.headerText.find("\r\n", start);
        if (end == std::string::npos) end = post.headerText.size();
        if (end > start) {
            curl_slist* more = curl_slist_append(headers.list, post.headerText.substr(start, end - start).c_str());
            if (!more) return std::nullopt;
            headers.list = more;
        }
        start = end + 2;
    }

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    // Given with its length: no terminating zero goes out. The library keeps
    // the pointer and sends the same bytes again after a 401.
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, post.body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(post.body.size()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(h, CURLOPT_USERNAME, post.user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, post.password.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, DiscardBody);
    // The status that counts is the final one, after any redirection the
    // server asks for; credentials are never handed on to another host.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http");

    if (curl_easy_perform(h) != CURLE_OK) return std::nullopt;
    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return std::nullopt;
    return status;
}

std::unique_ptr<FtpConnection> InternetSession::ConnectFtp(const std::string& host, std::uint16_t port,
                                                           const std::string& user, const std::string& password) const
{
    if (!m_client) return nullptr;
    CurlHandle transfer = m_client->OpenTransfer(m_userAgent);
    if (!transfer) return nullptr;
    auto connection =
        std::make_unique<CurlFtpConnection>(std::move(transfer), "ftp://" + host + ":" + std::to_string(port) + "/");
    if (!connection->LogIn(user, password)) return nullptr;
    return connection;
}

}  // namespace tessel
