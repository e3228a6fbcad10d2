// Any bytes as a request to the network helper, through its parser, with
// what must hold whatever a member of the group sends: a request names no
// refused address, an interface name the kernel could hold, a hardware
// address of one device, a bounded timeout; and written back, it reads as
// the same request.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "netd/protocol.h"
#include "tests/fuzz/fuzz_require.h"

namespace nh = tessel::nethelper;
using tessel::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const nh::Parsed parsed = nh::ParseRequest(bytes);
    Require(parsed.request.has_value() == parsed.error.empty());
    if (!parsed.request) return 0;
    const nh::Request& request = *parsed.request;
    Require(size <= nh::kMaxMessage);
    if (request.kind != nh::RequestKind::BindServerPort) Require(nh::RefusedAddress(request.address).empty());
    if (request.kind == nh::RequestKind::Echo)
        Require(request.timeoutMs >= 1 && request.timeoutMs <= nh::kMaxEchoTimeoutMs);
    if (request.kind == nh::RequestKind::AddNeighbour) {
        Require(!request.device.empty() && request.device.size() < 16);
        Require(request.device.find_first_of("/: \n") == std::string::npos);
        Require((request.hardware[0] & 1U) == 0);
    }
    const nh::Parsed again = nh::ParseRequest(nh::FormatRequest(request));
    Require(again.request.has_value());
    Require(again.request->kind == request.kind && again.request->address == request.address &&
            again.request->timeoutMs == request.timeoutMs && again.request->device == request.device &&
            again.request->hardware == request.hardware);
    return 0;
}
