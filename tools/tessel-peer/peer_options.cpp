#include "peer_options.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <cstdio>
#include <random>

namespace peer {

namespace {

constexpr unsigned kMaxPort = 65535;
constexpr unsigned kMaxIntervalMs = 3600 * 1000;
constexpr unsigned kMaxLingerSeconds = 24 * 3600;

bool ToUnsigned(const std::string& text, unsigned long max, unsigned long& value, int base = 10)
{
    const char* first = text.data();
    if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        first += 2;
    }
    const char* last = text.data() + text.size();
    if (first == last) return false;
    const auto [end, ec] = std::from_chars(first, last, value, base);
    return ec == std::errc{} && end == last && value <= max;
}

}  // namespace

void PrintUsage(std::FILE* out)
{
    std::fputs(
        "Usage: tessel-peer [OPTIONS] --server MAC [SERVER OPTIONS] [--server MAC ...]\n"
        "\n"
        "Behaves as MERROW servers do after power-on: broadcasts BOOTREQUESTs to\n"
        "255.255.255.255, UDP port 67, and prints every BOOTREPLY it hears.\n"
        "Run it inside a network namespace: it refuses the machine's own network\n"
        "unless --host-network is given.\n"
        "\n"
        "Each --server MAC (0A-1B-2C-01-02-03 or with ':') adds one simulated server.\n"
        "Server options given before the first --server are defaults for all\n"
        "servers; given after a --server they apply to that server only.\n"
        "\n"
        "Global options:\n"
        "  --interface IF    interface to send and listen on (default: the only\n"
        "                    interface that is up and not loopback)\n"
        "  --port N          UDP port requests come from and replies are heard on (68)\n"
        "  --interval MS     time between rounds (1000); in each round every server\n"
        "                    that has datagrams left sends one, in the order given\n"
        "  --linger S        keep listening S seconds after the last datagram (2);\n"
        "                    'forever' listens until SIGINT or SIGTERM\n"
        "  --host-network    allow running outside a network namespace\n"
        "  --help            show this text\n"
        "\n"
        "Server options:\n"
        "  --from ADDR       source address: 0.0.0.0 (the interface must have no IPv4\n"
        "                    address), 'factory' (198.51.100.80) or an address of the\n"
        "                    interface; default: the interface's first address, or\n"
        "                    0.0.0.0 when it has none\n"
        "  --requested ADDR  carry option 50 (requested address) with ADDR\n"
        "  --no-requested    no option 50 (default)\n"
        "  --class XY        carry the maker's vendor pattern (option 43) with the\n"
        "                    two-character class XY (default PS)\n"
        "  --no-vendor       no vendor pattern\n"
        "  --length N        datagram length, 0 to 65507 (300); the request is padded\n"
        "                    with zeros after its end option, or cut when N is\n"
        "                    shorter: 0 sends an empty datagram, 3000 one larger\n"
        "                    than the program's receive buffer\n"
        "  --op N            first byte, 0 to 255 (1, BOOTREQUEST; 2 sends a reply\n"
        "                    where a request belongs)\n"
        "  --count N         datagrams this server sends (1); 0 sends until stopped\n"
        "  --xid HEX         transaction id (default: random, one per server)\n"
        "\n"
        "After a reply with a server's MAC and xid the server restarts: it stops\n"
        "sending, waits, replaces the address it asked from by the reply's yiaddr,\n"
        "takes its MAC as the interface's hardware address (as a server's serial\n"
        "is its MAC), adds an on-link default route, and opens a web server on\n"
        "port 80 and an FTP service on port 21 at the new address.\n"
        "Service options (for every server of this peer):\n"
        "  --ignore-replies      never restart; requests go on as planned\n"
        "  --keep-asking         go on sending requests after the restart (from the\n"
        "                        new address), so that a reply may come again\n"
        "  --keep-old-address    leave the address asked from on the interface\n"
        "  --restart-ms MS       from the reply to the new address (3000)\n"
        "  --prefix N            prefix length of the new address (24)\n"
        "  --no-icmp             do not answer ICMP echo requests once restarted\n"
        "                        (the whole namespace stops answering them)\n"
        "  --record DIR          keep each HTTP request and each uploaded file in DIR\n"
        "                        (http-N.req, ftp-N.upload), exactly as received\n"
        "  --no-web              take the address, but do not listen on port 80\n"
        "  --web-status N        answer to an authorised POST /cgi-bin/config.html (200)\n"
        "  --web-delay MS        wait before that answer (0)\n"
        "  --web-password PW     password of root for the form (wxyz)\n"
        "  --no-ftp              no FTP service on port 21\n"
        "  --ftp-password PW     password of root for FTP (wxyz)\n"
        "  --ftp-files A,B,...   names NLST (and LIST, in the long form) list, whatever\n"
        "                        is asked for (CONFIG);\n"
        "                        'none' lists nothing\n"
        "  --ftp-missing-450     answer an empty listing with 450 instead of an empty\n"
        "                        transfer\n"
        "  --ftp-refuse-upload   answer STOR with 553\n"
        "  --ftp-drop-upload     answer STOR with 150, then drop both connections\n"
        "                        before the file is whole\n"
        "\n"
        "Output on stdout, one line per event, flushed at once:\n"
        "  READY interface=IF index=N port=N servers=N\n"
        "  SENT mac=MAC xid=0xXXXXXXXX from=ADDR len=N op=N\n"
        "  REPLY mac=MAC xid=0xXXXXXXXX ours=0|1 from=ADDR:PORT to=ADDR len=N op=N\n"
        "        flags=0xXXXX\n"
        "        ciaddr=A yiaddr=A siaddr=A giaddr=A sname=TEXT sname_nul=0|1\n"
        "        file=TEXT cookie=dhcp|none|HEX end=N   (all on one line; end is the\n"
        "        offset of the end option when only padding stands before it, else -1)\n"
        "  OTHER from=ADDR:PORT len=N op=N   (anything else heard on the port)\n"
        "  RESTART mac=MAC address=A/N old=A after_ms=N web=0|1 ftp=0|1\n"
        "  WEB connection n=N from=ADDR:PORT\n"
        "  WEB empty n=N                 (closed without a byte: a port probe)\n"
        "  WEB request n=N method=M path=P auth=none|good|bad status=N bytes=N\n"
        "        body=TEXT [file=PATH]\n"
        "  FTP session n=N from=ADDR:PORT\n"
        "  FTP command n=N verb=V arg=TEXT\n"
        "  FTP stored|dropped|refused n=N name=TEXT type=A|I bytes=N [file=PATH]\n"
        "  DONE sent=N replies=N\n"
        "Texts are escaped: bytes outside 0x21..0x7E and '\\' become \\xHH.\n"
        "\n"
        "Exit status: 0 done or stopped by SIGINT/SIGTERM, 64 bad arguments,\n"
        "69 the interface, address or socket cannot be used.\n",
        out);
}

ParseResult ParseCommandLine(int argc, char** argv)
{
    ParseResult result;
    PeerConfig config;
    ServerPlan defaults;
    defaults.request.vendorClass = "PS";
    // Server options go to the defaults until the first --server names a server.
    auto target = [&]() -> ServerPlan& { return config.servers.empty() ? defaults : config.servers.back(); };
    auto fail = [&](const std::string& message) {
        result.error = message;
        return result;
    };

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            result.help = true;
            return result;
        }
        if (option == "--host-network") {
            config.hostNetwork = true;
            continue;
        }
        if (option == "--no-requested") {
            target().request.requestedAddress.reset();
            continue;
        }
        if (option == "--no-vendor") {
            target().request.vendorClass.reset();
            continue;
        }
        ServiceConfig& services = config.services;
        if (option == "--ignore-replies") {
            services.ignoreReplies = true;
            continue;
        }
        if (option == "--keep-asking") {
            services.keepAsking = true;
            continue;
        }
        if (option == "--keep-old-address") {
            services.keepOldAddress = true;
            continue;
        }
        if (option == "--no-web") {
            services.web = false;
            continue;
        }
        if (option == "--no-icmp") {
            services.icmp = false;
            continue;
        }
        if (option == "--no-ftp") {
            services.ftp = false;
            continue;
        }
        if (option == "--ftp-missing-450") {
            services.ftpMissing450 = true;
            continue;
        }
        if (option == "--ftp-refuse-upload") {
            services.ftpRefuseUpload = true;
            continue;
        }
        if (option == "--ftp-drop-upload") {
            services.ftpDropUpload = true;
            continue;
        }
        static const char* const kWithValue[] = {"--server",     "--interface",    "--port",         "--interval",
                                                 "--linger",     "--from",         "--requested",    "--class",
                                                 "--length",     "--op",           "--count",        "--xid",
                                                 "--restart-ms", "--prefix",       "--record",       "--web-status",
                                                 "--web-delay",  "--web-password", "--ftp-password", "--ftp-files"};
        if (std::find(std::begin(kWithValue), std::end(kWithValue), option) == std::end(kWithValue)) {
            return fail("unknown option: " + option);
        }
        if (i + 1 >= argc) return fail("missing value after " + option);
        const std::string value = argv[++i];
        unsigned long number = 0;
        if (option == "--server") {
            const auto mac = ParseMac(value);
            if (!mac) return fail("not a MAC address: " + value);
            ServerPlan server = defaults;
            server.request.mac = *mac;
            config.servers.push_back(server);
        } else if (option == "--interface") {
            if (value.empty()) return fail("empty interface name");
            config.interfaceName = value;
        } else if (option == "--port") {
            if (!ToUnsigned(value, kMaxPort, number) || number == 0) return fail("bad port: " + value);
            config.port = static_cast<unsigned>(number);
        } else if (option == "--interval") {
            if (!ToUnsigned(value, kMaxIntervalMs, number)) return fail("bad interval: " + value);
            config.intervalMs = static_cast<unsigned>(number);
        } else if (option == "--linger") {
            if (value == "forever") {
                config.lingerMs.reset();
            } else {
                if (!ToUnsigned(value, kMaxLingerSeconds, number)) return fail("bad linger: " + value);
                config.lingerMs = static_cast<unsigned>(number * 1000);
            }
        } else if (option == "--from") {
            if (value == "factory") {
                target().source = SourceKind::Address;
                target().sourceAddress = kFactoryDefaultAddress;
                continue;
            }
            const auto address = ParseIpv4(value);
            if (!address) return fail("not an IPv4 address: " + value);
            const bool unset = *address == Ipv4{0, 0, 0, 0};
            target().source = unset ? SourceKind::Unset : SourceKind::Address;
            target().sourceAddress = *address;
        } else if (option == "--requested") {
            const auto address = ParseIpv4(value);
            if (!address) return fail("not an IPv4 address: " + value);
            target().request.requestedAddress = *address;
        } else if (option == "--class") {
            if (value.size() != 2) return fail("a class has two characters: " + value);
            target().request.vendorClass = value;
        } else if (option == "--length") {
            if (!ToUnsigned(value, kMaxUdpPayload, number)) return fail("bad length: " + value);
            target().request.length = number;
        } else if (option == "--op") {
            if (!ToUnsigned(value, 255, number)) return fail("bad op: " + value);
            target().request.op = static_cast<std::uint8_t>(number);
        } else if (option == "--count") {
            if (!ToUnsigned(value, 1000000, number)) return fail("bad count: " + value);
            target().count = static_cast<unsigned>(number);
        } else if (option == "--xid") {
            if (!ToUnsigned(value, 0xFFFFFFFFul, number, 16)) return fail("bad xid: " + value);
            target().request.xid = static_cast<std::uint32_t>(number);
            target().xidGiven = true;
        } else if (option == "--restart-ms") {
            if (!ToUnsigned(value, kMaxIntervalMs, number)) return fail("bad restart time: " + value);
            services.restartMs = static_cast<unsigned>(number);
        } else if (option == "--prefix") {
            if (!ToUnsigned(value, 32, number) || number == 0) return fail("bad prefix: " + value);
            services.prefix = static_cast<unsigned>(number);
        } else if (option == "--record") {
            if (value.empty()) return fail("empty record folder");
            services.recordFolder = value;
        } else if (option == "--web-status") {
            if (!ToUnsigned(value, 599, number) || number < 100) return fail("bad status: " + value);
            services.webStatus = static_cast<unsigned>(number);
        } else if (option == "--web-delay") {
            if (!ToUnsigned(value, kMaxIntervalMs, number)) return fail("bad delay: " + value);
            services.webDelayMs = static_cast<unsigned>(number);
        } else if (option == "--web-password") {
            services.webPassword = value;
        } else if (option == "--ftp-password") {
            services.ftpPassword = value;
        } else if (option == "--ftp-files") {
            services.ftpFiles.clear();
            if (value != "none") {
                std::size_t start = 0;
                for (;;) {
                    const std::size_t comma = value.find(',', start);
                    const std::string name = value.substr(start, comma - start);
                    if (name.empty()) return fail("empty name in --ftp-files: " + value);
                    services.ftpFiles.push_back(name);
                    if (comma == std::string::npos) break;
                    start = comma + 1;
                }
            }
        } else {
            return fail("unknown option: " + option);
        }
    }
    if (config.servers.empty()) return fail("no --server given");
    if (config.hostNetwork && !config.services.icmp) {
        return fail("--no-icmp would change the machine's own network; not with --host-network");
    }

    // Each server keeps one xid for all its requests, as a client does within
    // one exchange; distinct servers get distinct ones so replies can be told apart.
    std::random_device seed;
    std::mt19937 random(seed());
    for (auto& server : config.servers) {
        if (!server.xidGiven) server.request.xid = static_cast<std::uint32_t>(random());
    }
    result.config = config;
    return result;
}

}  // namespace peer
