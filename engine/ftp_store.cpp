#include "engine/ftp_store.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>

#include "platform/internet_session.h"
#include "engine/shared_state.h"
#include "log/events.h"
#include "log/logfile.h"
#include "workers/server_login.h"

namespace tessel {

namespace {

// A listing is a few short names; a server that sends more than this is
// not listed further (the first entries are all the route needs).
constexpr std::size_t kMaxListingBytes = 64 * 1024;

bool EqualsIgnoringCase(const std::string& a, const char* b)
{
    const std::size_t size = std::strlen(b);
    if (a.size() != size) return false;
    for (std::size_t i = 0; i < size; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
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
    std::function<void()> onOpened;
};

// The library asks for the file's bytes only once the server has taken the
// STOR command and the data connection stands: that is the file opened.
std::size_t SupplyContent(char* buffer, std::size_t size, std::size_t count, void* user)
{
    auto* upload = static_cast<Upload*>(user);
    if (!upload->opened) {
        upload->opened = true;
        if (upload->onOpened) upload->onOpened();
    }
    const std::size_t bytes = std::min(size * count, upload->content->size() - upload->offset);
    std::memcpy(buffer, upload->content->data() + upload->offset, bytes);
    upload->offset += bytes;
    return bytes;
}

// Settings common to the three requests. They all go over one handle, which
// keeps the control connection (and the log-in) from one to the next.
void SetLogin(CURL* h)
{
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(h, CURLOPT_USERNAME, kServerUser);
    curl_easy_setopt(h, CURLOPT_PASSWORD, kServerPassword);
    // Active mode: the server connects back to us for each transfer. PORT
    // rather than EPRT, as the servers' own clients speak it.
    curl_easy_setopt(h, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(h, CURLOPT_FTP_USE_EPRT, 0L);
}

// Connects and logs in, transferring nothing, so that "connected" means
// the server took our user and password.
bool LogIn(CURL* h, const std::string& root)
{
    curl_easy_setopt(h, CURLOPT_URL, root.c_str());
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    return curl_easy_perform(h) == CURLE_OK;
}

// The names that the server lists for "CONFIG" in the login directory.
// Servers answer a missing name with an empty list or with 450 (which the
// library takes as an empty list); any other failure finds nothing either.
std::vector<std::string> SearchConfig(CURL* h, const std::string& root)
{
    Listing listing;
    curl_easy_setopt(h, CURLOPT_URL, root.c_str());
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, (std::string("NLST ") + kConfigName).c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectListing);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &listing);
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, nullptr);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
    if (rc != CURLE_OK && !listing.full) return {};
    return ParseNameListing(listing.text);
}

enum class UploadOutcome { Stored, NotOpened, NotWritten };

UploadOutcome StoreFile(CURL* h, const std::string& root, const std::string& fileName, const std::string& content,
                        std::function<void()> onOpened)
{
    // The name is the server's own text and must name a file in the login
    // directory. The library decodes the whole path before it splits it at
    // "/" (escaping a "/" does not keep it in the name), so a name with a
    // separator is refused as a failed open, and the upload goes out as one
    // STOR without any CWD. Control characters cannot reach the command
    // line either: the library refuses them, which counts as a failed open.
    if (!IsPlainFileName(fileName)) return UploadOutcome::NotOpened;
    char* escaped = curl_easy_escape(h, fileName.c_str(), static_cast<int>(fileName.size()));
    if (!escaped) return UploadOutcome::NotOpened;
    const std::string url = root + escaped;
    curl_free(escaped);

    Upload upload;
    upload.content = &content;
    upload.onOpened = std::move(onOpened);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    // ASCII transfer. The library's own ASCII mode would turn each LF of
    // the content into CR LF once more (CR CR LF on the wire), so it sends
    // the file as is, and "TYPE A" goes out last before STOR instead.
    curl_slist* typeAscii = curl_slist_append(nullptr, "TYPE A");
    if (!typeAscii) return UploadOutcome::NotOpened;
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(h, CURLOPT_PREQUOTE, typeAscii);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, SupplyContent);
    curl_easy_setopt(h, CURLOPT_READDATA, &upload);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(content.size()));
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_PREQUOTE, nullptr);
    curl_slist_free_all(typeAscii);
    if (!upload.opened) return UploadOutcome::NotOpened;
    return rc == CURLE_OK ? UploadOutcome::Stored : UploadOutcome::NotWritten;
}

}  // namespace

std::vector<std::string> ParseNameListing(const std::string& listing)
{
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        std::string line = listing.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) entries.push_back(std::move(line));
        start = end + 1;
    }
    return entries;
}

bool IsPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
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
    const auto log = [&shared](int code, std::string value = {}) {
        if (shared.logFile) shared.logFile->WriteEvent(code, std::move(value));
    };
    log(EvFtpStoreStarted);

    // The handle is the connection: leaving this function by any path
    // closes it (with QUIT when the server still listens).
    CurlHandle transfer = session.OpenTransfer();
    const std::string root = "ftp://" + address + ":" + std::to_string(port) + "/";
    if (!transfer) {
        log(EvFtpConnectFailed);
        return;
    }
    CURL* h = transfer.get();
    SetLogin(h);
    if (!LogIn(h, root)) {
        log(EvFtpConnectFailed);
        return;
    }
    log(EvFtpConnected);

    const std::optional<std::string> fileName = ConfigFileName(SearchConfig(h, root));
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

    switch (StoreFile(h, root, *fileName, *content, [&log] { log(EvFtpFileOpened); })) {
    case UploadOutcome::NotOpened:
        log(EvFtpOpenFailed);
        log(EvFtpStoreFinished);
        return;
    case UploadOutcome::NotWritten:
        log(EvFtpWriteFailed);
        log(EvFtpStoreFinished);
        return;
    case UploadOutcome::Stored:
        break;
    }
    RaiseStage(shared, StageStored);
    log(EvFtpStoreFinished);
    log(EvPermanentSuccess, address);
}

}  // namespace tessel
