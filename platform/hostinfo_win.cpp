#include "platform/hostinfo.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/socket_layer_win.h"

namespace tessel {

namespace {

bool IsLoopback(const in_addr& a)
{
    return (ntohl(a.s_addr) >> 24) == 127;
}

std::string Dotted(const in_addr& a)
{
    std::array<char, INET_ADDRSTRLEN> text{};
    ::inet_ntop(AF_INET, &a, text.data(), text.size());
    return text.data();
}

std::string NameOf()
{
    std::array<char, 256> name{};
    if (::gethostname(name.data(), static_cast<int>(name.size() - 1)) != 0) return {};
    return name.data();
}

// The system's adapters with IPv4, in its order; empty when it gives none.
std::vector<unsigned char> Adapters()
{
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        rc = ::GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                    nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR || size == 0) buffer.clear();
    return buffer;
}

template <typename Visit>
void ForEachAdapter(Visit visit)
{
    std::vector<unsigned char> buffer = Adapters();
    if (buffer.empty()) return;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next)
        visit(*adapter);
}

// The adapter's first IPv4 address that is not a loopback one (empty when
// none), and the prefix length of its network.
std::string FirstAddressOf(const IP_ADAPTER_ADDRESSES& adapter, int* prefixLength = nullptr)
{
    for (auto* unicast = adapter.FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
        const SOCKADDR* sa = unicast->Address.lpSockaddr;
        if (sa == nullptr || sa->sa_family != AF_INET) continue;
        in_addr a{};
        std::memcpy(&a, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, sizeof a);
        if (IsLoopback(a)) continue;
        if (prefixLength != nullptr) *prefixLength = unicast->OnLinkPrefixLength;
        return Dotted(a);
    }
    return {};
}

// The first IPv4 address of an adapter that is up and not the loopback.
std::string FirstAdapterAddress()
{
    std::string found;
    ForEachAdapter([&found](const IP_ADAPTER_ADDRESSES& adapter) {
        if (!found.empty() || adapter.OperStatus != IfOperStatusUp || adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            return;
        found = FirstAddressOf(adapter);
    });
    return found;
}

std::string Utf8(const wchar_t* text)
{
    if (text == nullptr) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
}

}  // namespace

std::string LocalHostName()
{
    const ScopedSocketLayer layer;
    if (!layer.ok()) return {};
    return NameOf();
}

std::string FirstIpv4Address()
{
    const ScopedSocketLayer layer;
    if (layer.ok()) {
        const std::string name = NameOf();
        if (!name.empty()) {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_DGRAM;
            addrinfo* result = nullptr;
            if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) == 0 && result != nullptr) {
                in_addr a{};
                std::memcpy(&a, &reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr, sizeof a);
                ::freeaddrinfo(result);
                if (!IsLoopback(a)) return Dotted(a);
            }
        }
    }
    return FirstAdapterAddress();
}

std::vector<NetworkInterface> NetworkInterfaces()
{
    std::vector<NetworkInterface> found;
    ForEachAdapter([&found](const IP_ADAPTER_ADDRESSES& adapter) {
        // IfIndex is the IPv4 index, the one IP_PKTINFO names on arrival.
        NetworkInterface one{Utf8(adapter.FriendlyName), static_cast<unsigned>(adapter.IfIndex), {}};
        one.address = FirstAddressOf(adapter, &one.prefixLength);
        found.push_back(std::move(one));
    });
    return found;
}

}  // namespace tessel
