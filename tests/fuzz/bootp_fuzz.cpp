// Any datagram of 0 to 2048 bytes through all four message operations, with
// the invariants that the reply and the texts must keep whatever arrives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cctype>
#include <cstring>
#include <string>

#include "engine/bootp.h"
#include "engine/ipaddress.h"
#include "tests/fuzz/fuzz_require.h"

using namespace tessel;
using tessel::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static BootpMessage message;
    message.Clear();
    const std::size_t length = std::min(size, kBootpBufferSize);
    if (length > 0) std::memcpy(message.buffer.data(), data, length);
    message.length = length;

    const std::string serial = FormatSerialNumber(message);
    Require(serial.size() == 17);
    for (std::size_t i = 0; i < serial.size(); ++i)
        Require(i % 3 == 2 ? serial[i] == '-' : std::isxdigit(static_cast<unsigned char>(serial[i])) != 0);

    if (auto vendorClass = FindVendorClass(message)) Require(vendorClass->size() == 2);
    if (auto requested = FindRequestedAddress(message)) Require(ParseAddress(*requested).has_value());

    // The host name also comes from the input, to exercise the cut.
    const std::string hostName(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 120));
    const BootpMessage before = message;
    const auto reply = MakeReply(message, "10.0.0.5", size % 2 ? "" : "10.77.0.1", hostName);
    Require(reply.size() == kBootpReplyLength);
    Require(reply[0] == kBootReply && reply[492] == 255);
    Require(std::equal(reply.begin() + 108, reply.begin() + 240, before.buffer.begin() + 108));
    Require(std::memchr(&reply[44], 0, 64) != nullptr);
    return 0;
}
