// tessel-cli: the headless front end on the same core as the window.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/hostinfo.h"

namespace {

constexpr int kExitUsage = 64;

void PrintUsage(std::FILE* out)
{
    std::fputs(
        "Usage: tessel-cli COMMAND [OPTIONS]\n"
        "\n"
        "Commands:\n"
        "  host        show this computer's name and the address it gives servers\n"
        "  --help      show this text\n",
        out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintUsage(stdout);
        return 0;
    }
    if (command == "host" && argc == 2) {
        const std::string address = tessel::FirstIpv4Address();
        std::printf("host name: %s\naddress:   %s\n", tessel::LocalHostName().c_str(),
                    address.empty() ? "(none found)" : address.c_str());
        return 0;
    }
    std::fprintf(stderr, "tessel-cli: unknown command or arguments: %s\n\n", command.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}
