// Shared by the throughput tools: they broadcast floods or take port 67, so
// they refuse to run anywhere but in a named network namespace (one under
// /run/netns), where every datagram stays on the test bed.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <string>

namespace bench {

inline bool InNamedNetworkNamespace()
{
    struct stat own {};
    if (stat("/proc/self/ns/net", &own) != 0) return false;
    DIR* dir = opendir("/run/netns");
    if (dir == nullptr) return false;
    bool found = false;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat named {};
        if (stat(("/run/netns/" + name).c_str(), &named) == 0 && named.st_dev == own.st_dev &&
            named.st_ino == own.st_ino) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

// CLOCK_MONOTONIC is the clock behind Python's time.monotonic(), so the
// driver can set these times against the moments it reads output lines.
inline double MonotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// "0A-1B-2C" -> 3 bytes; false on anything else.
inline bool ParsePrefix(const std::string& text, std::uint8_t out[3])
{
    if (text.size() != 8 || text[2] != '-' || text[5] != '-') return false;
    for (int i = 0; i < 3; ++i) {
        unsigned value = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = text[static_cast<std::size_t>(i * 3 + k)];
            unsigned digit = 0;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else
                return false;
            value = value * 16 + digit;
        }
        out[i] = static_cast<std::uint8_t>(value);
    }
    return true;
}

}  // namespace bench
