// Small helpers shared by the workers' and the FTP store's tests: a
// temporary folder, reading a logfile back as event lines, and child
// processes started and ended by the test itself.
#pragma once

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/events.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace tessel::testing {

#ifndef _WIN32

// A loopback TCP port that is bound but not listening: a connection to it
// is refused at once.
class RefusingPort {
public:
    RefusingPort() : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return;
        socklen_t size = sizeof at;
        if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&at), &size) == 0) m_port = ntohs(at.sin_port);
    }
    ~RefusingPort()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    // 0 when no port could be had.
    std::uint16_t port() const { return m_port; }

private:
    int m_fd;
    std::uint16_t m_port = 0;
};

#endif  // the POSIX-only helpers go on below the portable ones

class TempDir {
public:
    TempDir()
    {
#ifdef _WIN32
        // No mkdtemp: a random name, made only where none exists yet.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            const auto candidate =
                std::filesystem::temp_directory_path() / ("tessel-workers." + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) m_path = candidate;
        }
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "tessel-workers.XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
#endif
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const
    {
        return m_path;
    }

private:
    std::filesystem::path m_path;
};

inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The event lines of a logfile, time stamps removed; header, footer and
// empty lines left out.
inline std::vector<std::string> EventLines(const std::filesystem::path& path)
{
    std::vector<std::string> events;
    const std::string text = ReadFile(path);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        if (line.size() < 11 || line.compare(8, 3, " - ") != 0) continue;
        const std::string body = line.substr(11);
        if (body.rfind("Initialized ", 0) == 0 || body.rfind("Closed ", 0) == 0) continue;
        events.push_back(body);
    }
    return events;
}

// The line an event writes, as the catalogue makes it.
inline std::string EventLine(int code, const std::string& value = {})
{
    return std::string(EventText(code)) + (EventTakesValue(code) ? value : std::string()) + ".";
}

#ifndef _WIN32
// Removes the proxy settings of whoever runs the tests: every test server
// is on loopback and must be reached directly.
inline void ClearProxyEnvironment()
{
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "ftp_proxy", "FTP_PROXY",
                             "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
}

// A child process with its standard output on a pipe; killed and reaped
// when the object goes.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv)
    {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        if (::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = ::fdopen(out[0], "r");
    }
    ~ChildProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out) std::fclose(m_out);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running() const { return m_pid > 0; }
    // One line of the child's output, without its line end; empty at the end.
    std::string ReadLine()
    {
        std::string line;
        if (!m_out) return line;
        for (int c = std::fgetc(m_out); c != EOF && c != '\n'; c = std::fgetc(m_out)) line += static_cast<char>(c);
        return line;
    }

private:
    pid_t m_pid = -1;
    std::FILE* m_out = nullptr;
};

// Waits (in real time, for a test's own servers and workers) until `done`
// holds or `limitMs` has passed; returns the last value of `done`.
template <typename Condition>
bool WaitUntil(Condition done, int limitMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

#endif  // _WIN32

}  // namespace tessel::testing
