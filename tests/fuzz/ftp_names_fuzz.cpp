// Any bytes as a server's answer to "NLST CONFIG", through the listing, the
// choice of the file name and of its format, with what must hold whatever
// the server sends: names on one line, a file written only under a plain
// name of one of the two formats, and then exactly its fixed content.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/ftp_store.h"
#include "tests/fuzz/fuzz_require.h"

using namespace tessel;
using tessel::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string listing(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> entries = ParseNameListing(listing);
    std::size_t total = 0;
    for (const std::string& entry : entries) {
        Require(!entry.empty());
        Require(entry.find('\n') == std::string::npos);
        total += entry.size();
    }
    Require(total <= size);

    const auto name = ConfigFileName(entries);
    Require(name.has_value() == !entries.empty());
    if (!name) return 0;
    Require(entries.size() == 1 ? *name == kConfigName : *name == entries.front());

    const std::string address = "192.168.100.200";
    const auto content = ConfigFileContent(*name, address);
    if (!content) return 0;
    // Only the two known names have a format, and both stay in the login
    // directory.
    Require(IsPlainFileName(*name));
    Require(*content == std::string(kConfigPrefix) + address + " \r\n" ||
            *content == std::string(kConfigIniPrefix) + address + " \r\n");
    return 0;
}
