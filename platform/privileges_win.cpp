#include "platform/privileges.h"

#include <windows.h>

#include <filesystem>

namespace tessel {

std::string RunningProgramPath(const std::string& fallback)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD size = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (size == 0 || size >= MAX_PATH) return fallback;
    const std::u8string text = std::filesystem::path(path).u8string();
    return std::string(text.begin(), text.end());
}

// Windows has no privileged ports and lets every user send ICMP echo
// requests; a refusal comes from a firewall or security product, or from
// a policy that only an administrator's rights get past.
std::string CapabilitiesAdvice(const std::string& program)
{
    return "Allow " + program +
           " in the firewall or security software of this computer, or run it as an administrator.";
}

// Windows has no capability sets to lower or raise: the rights a call needs
// are the account's or the firewall's.
void LowerNetworkRights()
{}

void DropNetworkRight(NetworkRight)
{}

RaisedRight::RaisedRight(NetworkRight)
{}

RaisedRight::~RaisedRight() = default;

}  // namespace tessel
