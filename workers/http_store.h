// The HTTP store: a worker that makes a server keep its new address by
// posting the server's own configuration form, logged in as its
// administrator. The network thread waits 2.8 s for it, then tries FTP.
#pragma once

#include <memory>
#include <string>

#include "workers/hand_over.h"

namespace tessel {

// The form's object on the server.
inline constexpr const char* kStoreFormObject = "/cgi-bin/config.html";
// The extra header text, with its line end (49 bytes).
inline constexpr const char* kStoreFormHeader = "Content-type: application/x-www-form-urlencoded\r\n";

// "internetaddress=" + address + "&storeip=Store+IP+Settings": the two form
// fields, the address to keep and the form's submit button. Digits and dots
// need no escaping, so the address goes in unchanged.
std::string StoreFormBody(const std::string& address);

// The worker's body: one POST of the form to request->port (80) of
// request->address through request->session; result = 1 when the final
// status (after any authentication exchange) is 200..299 and the record
// was not abandoned by then. Ends within the session's transfer time-out.
void HttpStoreThread(std::shared_ptr<StoreRequest> request);

// Starts HttpStoreThread on a detached thread; false if none could be made.
bool StartHttpStore(std::shared_ptr<StoreRequest> request);

}  // namespace tessel
