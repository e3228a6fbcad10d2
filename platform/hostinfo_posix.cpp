#include "platform/hostinfo.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace tessel {

namespace {

bool IsLoopback(in_addr a)
{
    return (ntohl(a.s_addr) >> 24) == 127;
}

std::string Dotted(in_addr a)
{
    std::array<char, INET_ADDRSTRLEN> text{};
    inet_ntop(AF_INET, &a, text.data(), text.size());
    return text.data();
}

std::string FirstInterfaceAddress()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::string found;
    for (ifaddrs* it = list; it != nullptr && found.empty(); it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
        if ((it->ifa_flags & IFF_UP) == 0 || (it->ifa_flags & IFF_LOOPBACK) != 0) continue;
        in_addr a{};
        std::memcpy(&a, &reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr, sizeof a);
        if (!IsLoopback(a)) found = Dotted(a);
    }
    freeifaddrs(list);
    return found;
}

}  // namespace

std::string LocalHostName()
{
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) return {};
    return name.data();
}

std::string FirstIpv4Address()
{
    const std::string name = LocalHostName();
    if (!name.empty()) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* result = nullptr;
        if (getaddrinfo(name.c_str(), nullptr, &hints, &result) == 0 && result != nullptr) {
            in_addr a{};
            std::memcpy(&a, &reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr, sizeof a);
            freeaddrinfo(result);
            if (!IsLoopback(a)) return Dotted(a);
        }
    }
    return FirstInterfaceAddress();
}

std::vector<NetworkInterface> NetworkInterfaces()
{
    std::vector<NetworkInterface> found;
    if (struct if_nameindex* names = if_nameindex()) {
        for (const struct if_nameindex* it = names; it->if_index != 0 && it->if_name != nullptr; ++it)
            found.push_back({it->if_name, it->if_index, {}});
        if_freenameindex(names);
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return found;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET || it->ifa_name == nullptr) continue;
        in_addr a{};
        std::memcpy(&a, &reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr, sizeof a);
        int prefix = -1;
        if (it->ifa_netmask != nullptr && it->ifa_netmask->sa_family == AF_INET) {
            std::uint32_t mask = 0;
            std::memcpy(&mask, &reinterpret_cast<const sockaddr_in*>(it->ifa_netmask)->sin_addr, sizeof mask);
            prefix = std::popcount(mask);
        }
        for (NetworkInterface& known : found) {
            if (known.name != it->ifa_name || !known.address.empty()) continue;
            known.address = Dotted(a);
            known.prefixLength = prefix;
        }
    }
    freeifaddrs(list);
    return found;
}

}  // namespace tessel
