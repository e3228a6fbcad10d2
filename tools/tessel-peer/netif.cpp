#include "netif.h"

#include <dirent.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <algorithm>

namespace peer {

namespace {
constexpr const char* kNamedNamespaces = "/run/netns";
}

bool FindInterface(const std::string& name, InterfaceInfo& info, std::string& error)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        error = "cannot list the network interfaces";
        return false;
    }
    std::vector<std::string> candidates;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr) continue;
        const std::string entryName = entry->ifa_name;
        const bool wanted = name.empty() ? ((entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_LOOPBACK) == 0)
                                         : entryName == name;
        if (wanted && std::find(candidates.begin(), candidates.end(), entryName) == candidates.end()) {
            candidates.push_back(entryName);
        }
    }
    if (candidates.size() != 1) {
        freeifaddrs(list);
        if (!name.empty()) {
            error = "no interface named " + name;
        } else if (candidates.empty()) {
            error = "no interface is up apart from loopback";
        } else {
            error = "several interfaces are up; choose one with --interface";
        }
        return false;
    }
    info.name = candidates.front();
    info.index = if_nametoindex(info.name.c_str());
    info.addresses.clear();
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr || info.name != entry->ifa_name) continue;
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&in->sin_addr.s_addr);
        info.addresses.push_back({bytes[0], bytes[1], bytes[2], bytes[3]});
    }
    freeifaddrs(list);
    if (info.index == 0) {
        error = "cannot find the index of interface " + info.name;
        return false;
    }
    return true;
}

bool InOwnNetworkNamespace()
{
    struct stat own {};
    if (stat("/proc/self/ns/net", &own) != 0) return false;
    DIR* names = opendir(kNamedNamespaces);
    if (names == nullptr) return false;
    bool found = false;
    while (const dirent* entry = readdir(names)) {
        const std::string path = std::string(kNamedNamespaces) + "/" + entry->d_name;
        struct stat named {};
        if (stat(path.c_str(), &named) == 0 && named.st_ino == own.st_ino && named.st_dev == own.st_dev) {
            found = true;
            break;
        }
    }
    closedir(names);
    return found;
}

}  // namespace peer
