// A network namespace of a test's own (loopback up, removed again at the
// end), work run inside it on a thread of its own, and that thread's
// capabilities taken away, as for a program run by an ordinary user.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <thread>

namespace tessel::testing {

inline int RunQuiet(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str());
}

class TestNamespace {
public:
    TestNamespace()
    {
        static std::atomic<int> count{0};
        m_name = "tessel-wk-" + std::to_string(::getpid()) + "-" + std::to_string(count++);
        if (::geteuid() != 0 || RunQuiet("ip netns add " + m_name) != 0) return;
        m_made = Exec("ip link set lo up") == 0;
    }
    ~TestNamespace()
    {
        if (!m_name.empty()) RunQuiet("ip netns del " + m_name);
    }
    TestNamespace(const TestNamespace&) = delete;
    TestNamespace& operator=(const TestNamespace&) = delete;

    bool made() const { return m_made; }
    int Exec(const std::string& command) { return RunQuiet("ip netns exec " + m_name + " " + command); }

    // What `command` run inside prints on its standard output.
    std::string Output(const std::string& command)
    {
        std::string text;
        if (std::FILE* pipe = ::popen(("ip netns exec " + m_name + " " + command).c_str(), "r")) {
            char chunk[256];
            while (std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, got);
            ::pclose(pipe);
        }
        return text;
    }

    // Runs `work` on a thread that has entered the namespace.
    template <typename Work>
    bool RunInside(Work work)
    {
        bool entered = false;
        std::thread inside([&] {
            const int fd = ::open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
            entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
            if (fd >= 0) ::close(fd);
            if (entered) work();
        });
        inside.join();
        return entered;
    }

private:
    std::string m_name;
    bool m_made = false;
};

// Takes `capabilities` (CAP_NET_RAW, ...) from the calling thread for good,
// effective and permitted, so that the program cannot raise them again;
// capabilities belong to a thread, so the rest of the test keeps its own.
// False when the system refused.
inline bool DropCapabilities(std::initializer_list<int> capabilities)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    for (const int capability : capabilities) {
        data[capability / 32].effective &= ~(1U << (capability % 32));
        data[capability / 32].permitted &= ~(1U << (capability % 32));
    }
    return ::syscall(SYS_capset, &header, data) == 0;
}

#define REQUIRE_NAMESPACE(ns) \
    if (!(ns).made()) GTEST_SKIP() << "needs root and network namespaces (ip netns) to make a network of its own"

}  // namespace tessel::testing
