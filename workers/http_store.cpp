#include "workers/http_store.h"

#include <optional>

#include "platform/internet_session.h"
#include "workers/server_login.h"

namespace tessel {

std::string StoreFormBody(const std::string& address)
{
    return "internetaddress=" + address + "&storeip=Store+IP+Settings";
}

void HttpStoreThread(std::shared_ptr<StoreRequest> request)
{
    if (!request) return;
    const std::string address = request->address;
    if (!request->session) return;
    FormPost post;
    post.host = address;
    post.port = request->port;
    post.object = kStoreFormObject;
    post.headerText = kStoreFormHeader;
    post.body = StoreFormBody(address);
    post.user = kServerUser;
    post.password = kServerPassword;
    const std::optional<long> status = request->session->PostForm(post);
    // A wrong password also ends the exchange without error, with 401:
    // only the final status says whether the server took the address.
    if (status && *status >= 200 && *status <= 299) request->Report(1);
}

bool StartHttpStore(std::shared_ptr<StoreRequest> request)
{
    return StartDetached([request = std::move(request)]() mutable { HttpStoreThread(std::move(request)); });
}

}  // namespace tessel
