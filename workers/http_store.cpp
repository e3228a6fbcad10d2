#include "workers/http_store.h"

#include <curl/curl.h>

#include <cstring>

#include "platform/internet_session.h"
#include "workers/server_login.h"

namespace tessel {

namespace {

// The response body is not needed; swallow it.
std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) { return size * count; }

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
};

}  // namespace

std::string StoreFormBody(const std::string& address)
{
    return "internetaddress=" + address + "&storeip=Store+IP+Settings";
}

void HttpStoreThread(std::shared_ptr<StoreRequest> request)
{
    if (!request) return;
    const std::string address = request->address;
    if (!request->session) return;
    CurlHandle transfer = request->session->OpenTransfer();
    if (!transfer) return;
    CURL* h = transfer.get();

    const std::string url = "http://" + address + ":" + std::to_string(request->port) + kStoreFormObject;
    const std::string body = StoreFormBody(address);
    // The library ends every header line itself, so it gets the text
    // without its CR LF; on the wire it is the same 49 bytes. Naming the
    // content type here also keeps the library from adding its own.
    const std::string headerText(kStoreFormHeader, std::strlen(kStoreFormHeader) - 2);
    HeaderList headers;
    headers.list = curl_slist_append(nullptr, headerText.c_str());
    if (!headers.list) return;

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    // Given with its length: no terminating zero goes out. The library keeps
    // the pointer and sends the same bytes again after a 401.
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(h, CURLOPT_USERNAME, kServerUser);
    curl_easy_setopt(h, CURLOPT_PASSWORD, kServerPassword);
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, DiscardBody);
    // The status that counts is the final one, after any redirection the
    // server asks for; credentials are never handed on to another host.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http");

    if (curl_easy_perform(h) != CURLE_OK) return;
    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return;
    // A wrong password also ends the transfer without error, with 401:
    // only the final status says whether the server took the address.
    if (status >= 200 && status <= 299) request->Report(1);
}

bool StartHttpStore(std::shared_ptr<StoreRequest> request)
{
    return StartDetached([request = std::move(request)]() mutable { HttpStoreThread(std::move(request)); });
}

}  // namespace tessel
