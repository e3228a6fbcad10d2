#include "ftp_service.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <optional>

#include "report.h"
#include "tcp_link.h"

namespace peer {

namespace {

constexpr unsigned kFtpPort = 21;
constexpr const char* kUser = "root";
constexpr int kIdleTimeoutMs = 30000;  // a silent client is dropped
constexpr int kDataTimeoutMs = 10000;
constexpr std::size_t kMaxLineBytes = 4096;
// How often a session waiting for a command looks at the stop flag.
constexpr int kReadStepMs = 200;
constexpr std::size_t kMaxUploadBytes = 1024 * 1024;

std::atomic<unsigned> sessionCount{0};
std::atomic<unsigned> uploadCount{0};

std::string Upper(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Reads one command line (up to CR LF, or LF) from the control connection.
class LineReader {
public:
    explicit LineReader(int fd) : m_fd(fd) {}

    std::optional<std::string> Next(const std::atomic<bool>& stop)
    {
        int waited = 0;
        for (;;) {
            const std::size_t end = m_pending.find('\n');
            if (end != std::string::npos) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            if (m_pending.size() > kMaxLineBytes || stop.load() || waited >= kIdleTimeoutMs) return std::nullopt;
            char buffer[512];
            const long got = ReadWithin(m_fd, buffer, sizeof buffer, kReadStepMs);
            if (got == 0) return std::nullopt;
            if (got < 0) {
                waited += kReadStepMs;
                continue;
            }
            m_pending.append(buffer, static_cast<std::size_t>(got));
        }
    }

private:
    int m_fd;
    std::string m_pending;
};

// Ends a connection with a reset, as a server that fails mid-transfer does.
void Drop(int fd)
{
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(fd);
}

std::string SafeFileName(const std::string& name)
{
    std::string out;
    for (const char c : name) out.push_back(std::isalnum(static_cast<unsigned char>(c)) || c == '.' ? c : '_');
    return out;
}

}  // namespace

bool ParsePortArgument(const std::string& text, Ipv4& address, unsigned& port)
{
    unsigned values[6] = {};
    std::size_t index = 0;
    bool digit = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            values[index] = values[index] * 10 + static_cast<unsigned>(c - '0');
            if (values[index] > 255) return false;
            digit = true;
        } else if (c == ',' && digit && index < 5) {
            ++index;
            digit = false;
        } else {
            return false;
        }
    }
    if (index != 5 || !digit) return false;
    for (std::size_t i = 0; i < 4; ++i) address[i] = static_cast<std::uint8_t>(values[i]);
    port = values[4] * 256 + values[5];
    return port != 0;
}

FtpService::FtpService(const ServiceConfig& config, const Ipv4& address, const std::atomic<bool>& stop)
    : TcpService(config, address, kFtpPort, sessionCount, "FTP session", stop)
{}

void FtpService::Serve(int fd, unsigned number)
{
    const std::string n = std::to_string(number);
    auto reply = [fd](const std::string& text) { return SendAll(fd, text + "\r\n"); };
    if (!reply("220 MERROW FTP server ready")) {
        close(fd);
        return;
    }
    LineReader reader(fd);
    std::string user;
    bool loggedIn = false;
    std::string type = "A";  // the protocol's default
    std::optional<std::pair<Ipv4, unsigned>> dataTarget;

    while (auto line = reader.Next(m_stop)) {
        const std::size_t space = line->find(' ');
        const std::string verb = Upper(line->substr(0, space));
        const std::string arg = space == std::string::npos ? std::string() : line->substr(space + 1);
        ReportLine("FTP command n=" + n + " verb=" + EscapeText(verb) + " arg=" + EscapeText(arg));

        if (verb == "QUIT") {
            reply("221 Goodbye");
            break;
        }
        if (verb == "USER") {
            user = arg;
            loggedIn = false;
            reply("331 Password required for " + arg);
            continue;
        }
        if (verb == "PASS") {
            loggedIn = user == kUser && arg == m_config.ftpPassword;
            reply(loggedIn ? "230 User logged in" : "530 Login incorrect");
            continue;
        }
        if (!loggedIn) {
            reply("530 Please log in with USER and PASS");
            continue;
        }
        if (verb == "PWD" || verb == "XPWD") {
            reply("257 \"/\" is the current directory");
        } else if (verb == "CWD") {
            reply(arg == "/" || arg.empty() ? "250 Directory changed" : "550 No such directory");
        } else if (verb == "SYST") {
            reply("215 UNIX Type: L8");
        } else if (verb == "NOOP") {
            reply("200 OK");
        } else if (verb == "TYPE") {
            const std::string wanted = Upper(arg);
            if (wanted == "A" || wanted == "A N" || wanted == "I" || wanted == "L 8") {
                type = wanted.substr(0, 1);
                reply("200 Type set to " + type);
            } else {
                reply("504 Type not supported");
            }
        } else if (verb == "PORT") {
            Ipv4 address{};
            unsigned port = 0;
            if (ParsePortArgument(arg, address, port)) {
                dataTarget = std::make_pair(address, port);
                reply("200 PORT command successful");
            } else {
                reply("501 Bad PORT argument");
            }
        } else if (verb == "NLST" || verb == "LIST") {
            if (!dataTarget) {
                reply("425 Use PORT first");
                continue;
            }
            if (m_config.ftpFiles.empty() && m_config.ftpMissing450) {
                dataTarget.reset();
                reply("450 No files found");
                continue;
            }
            reply("150 Opening data connection for the file list");
            const int data = ConnectWithin(dataTarget->first, dataTarget->second, kDataTimeoutMs);
            dataTarget.reset();
            if (data < 0) {
                reply("425 Cannot open data connection");
                continue;
            }
            // NLST gives bare names; LIST the long form of a Unix server,
            // which clients that search by LIST (WinINet) read.
            std::string listing;
            for (const auto& name : m_config.ftpFiles)
                listing +=
                    (verb == "LIST" ? "-rw-r--r--   1 root     root           26 Jan  1 00:00 " : "") + name + "\r\n";
            const bool sent = SendAll(data, listing);
            CloseGently(data);
            reply(sent ? "226 Transfer complete" : "426 Transfer aborted");
        } else if (verb == "STOR") {
            const std::string name = EscapeText(arg);
            if (m_config.ftpRefuseUpload) {
                ReportLine("FTP refused n=" + n + " name=" + name + " type=" + type + " bytes=0");
                reply("553 Could not create file");
                continue;
            }
            if (!dataTarget) {
                reply("425 Use PORT first");
                continue;
            }
            reply("150 Opening data connection for " + arg);
            const int data = ConnectWithin(dataTarget->first, dataTarget->second, kDataTimeoutMs);
            dataTarget.reset();
            if (data < 0) {
                reply("425 Cannot open data connection");
                continue;
            }
            std::string content;
            char buffer[4096];
            bool whole = false;
            for (;;) {
                const long got = ReadWithin(data, buffer, sizeof buffer, kDataTimeoutMs);
                if (got == 0) {
                    whole = true;
                    break;
                }
                if (got < 0) break;
                content.append(buffer, static_cast<std::size_t>(got));
                // The client has begun sending: that is the moment to fail.
                if (m_config.ftpDropUpload || content.size() > kMaxUploadBytes) break;
            }
            const std::string file =
                KeepAsFile(m_config.recordFolder,
                           "ftp-" + std::to_string(++uploadCount) + "-" + SafeFileName(arg) + ".upload", content);
            const std::string tail = " n=" + n + " name=" + name + " type=" + type +
                                     " bytes=" + std::to_string(content.size()) +
                                     (file.empty() ? std::string() : " file=" + file);
            if (m_config.ftpDropUpload || !whole) {
                Drop(data);
                ReportLine("FTP dropped" + tail);
                Drop(fd);
                return;
            }
            close(data);
            ReportLine("FTP stored" + tail);
            reply("226 Transfer complete");
        } else if (verb == "SIZE" || verb == "MDTM") {
            reply("550 Not available");
        } else {
            reply("502 Command not implemented");
        }
    }
    close(fd);
}

}  // namespace peer
