#include "platform/privileges.h"

#include "platform/net_steps.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdint>

namespace tessel {

namespace {

// The kernel's capability sets of the calling thread, in the two 32-bit
// words of the current interface (capget/capset, without libcap).
struct ThreadSets {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};

    bool Read() { return ::syscall(SYS_capget, &header, data) == 0; }
    bool Write() { return ::syscall(SYS_capset, &header, data) == 0; }

    static std::uint32_t Bit(int capability) { return 1U << (capability % 32); }
    bool Permitted(int capability) const { return (data[capability / 32].permitted & Bit(capability)) != 0; }
    bool Effective(int capability) const { return (data[capability / 32].effective & Bit(capability)) != 0; }
    void SetEffective(int capability, bool on)
    {
        auto& word = data[capability / 32].effective;
        word = on ? word | Bit(capability) : word & ~Bit(capability);
    }
};

constexpr int kNetworkCapabilities[] = {CAP_NET_BIND_SERVICE, CAP_NET_RAW, CAP_NET_ADMIN};

int CapabilityOf(NetworkRight right)
{
    switch (right) {
    case NetworkRight::BindPort:
        return CAP_NET_BIND_SERVICE;
    case NetworkRight::RawSocket:
        return CAP_NET_RAW;
    case NetworkRight::NeighbourTable:
        return CAP_NET_ADMIN;
    }
    return CAP_NET_ADMIN;
}

}  // namespace

std::string RunningProgramPath(const std::string& fallback)
{
    char path[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (size <= 0) return fallback;
    return std::string(path, static_cast<std::size_t>(size));
}

bool RightPermitted(NetworkRight right)
{
    ThreadSets sets;
    return sets.Read() && sets.Permitted(CapabilityOf(right));
}

void LowerNetworkRights()
{
    ThreadSets sets;
    if (sets.Read()) {
        for (const int capability : kNetworkCapabilities) sets.SetEffective(capability, false);
        // A command started later gets nothing through the inheritable set.
        for (auto& word : sets.data) word.inheritable = 0;
        sets.Write();
    }
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
}

void DropNetworkRight(NetworkRight right)
{
    const int capability = CapabilityOf(right);
    ThreadSets sets;
    if (!sets.Read()) return;
    sets.SetEffective(capability, false);
    sets.data[capability / 32].permitted &= ~ThreadSets::Bit(capability);
    sets.Write();
}

RaisedRight::RaisedRight(NetworkRight right)
{
    const int capability = CapabilityOf(right);
    ThreadSets sets;
    if (!sets.Read() || !sets.Permitted(capability) || sets.Effective(capability)) return;
    sets.SetEffective(capability, true);
    if (sets.Write()) m_capability = capability;
}

RaisedRight::~RaisedRight()
{
    if (m_capability < 0) return;
    ThreadSets sets;
    if (!sets.Read()) return;
    sets.SetEffective(m_capability, false);
    sets.Write();
}

}  // namespace tessel
