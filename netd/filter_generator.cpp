// tessel-net-filter: run once by the build, it writes the helper's
// system-call filters, as libseccomp makes them from netd/filter_rules.cpp,
// into a header that tessel-net loads as it is (netd/sandbox.cpp).
//
//   tessel-net-filter OUTPUT_HEADER
#include <linux/filter.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "netd/filter_rules.h"

namespace {

namespace nh = tessel::nethelper;

bool WriteArray(std::ofstream& out, const char* name, nh::Role role)
{
    const std::optional<std::string> bytes = nh::MakeSystemCallFilter(role);
    if (!bytes || bytes->size() % sizeof(sock_filter) != 0) return false;
    out << "inline constexpr sock_filter " << name << "[] = {\n";
    for (std::size_t at = 0; at < bytes->size(); at += sizeof(sock_filter)) {
        sock_filter step{};
        std::memcpy(&step, bytes->data() + at, sizeof step);
        out << "    {0x" << std::hex << step.code << ", " << std::dec << static_cast<unsigned>(step.jt) << ", "
            << static_cast<unsigned>(step.jf) << ", 0x" << std::hex << step.k << std::dec << "U},\n";
    }
    out << "};\n";
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessel-net-filter OUTPUT_HEADER\n");
        return 64;
    }
    const std::string path = argv[1];
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial);
        out << "// Made by the build (tessel-net-filter, netd/filter_generator.cpp) from the\n"
               "// tables of netd/filter_rules.cpp with libseccomp. Not to be edited.\n"
               "#pragma once\n\n#include <linux/filter.h>\n\nnamespace tessel::nethelper::built {\n\n";
        const bool ok =
            WriteArray(out, "kTableFilter", nh::Role::Table) && WriteArray(out, "kCheckFilter", nh::Role::Check);
        out << "\n}  // namespace tessel::nethelper::built\n";
        out.close();
        if (!ok || !out) {
            std::fprintf(stderr, "tessel-net-filter: libseccomp made no filter\n");
            std::remove(partial.c_str());
            return 1;
        }
    }
    return std::rename(partial.c_str(), path.c_str()) == 0 ? 0 : 1;
}
