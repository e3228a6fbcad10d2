// The parts of the internet session that are the same on every platform.
#include "platform/internet_session.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace tessel {

std::vector<std::string> ParseNameListing(const std::string& listing)
{
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        std::string line = listing.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) entries.push_back(std::move(line));
        start = end + 1;
    }
    return entries;
}

std::string ApplicationName(const std::string& fallback)
{
#ifdef _WIN32
    wchar_t path[MAX_PATH] = {};
    const DWORD size = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (size > 0 && size < MAX_PATH) {
        const std::filesystem::path self(path);
        if (!self.stem().empty()) return self.stem().string();
    }
#elif defined(__linux__)
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && !self.stem().empty()) return self.stem().string();
#endif
    return fallback;
}

}  // namespace tessel
