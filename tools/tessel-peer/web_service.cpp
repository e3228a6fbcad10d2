#include "web_service.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "report.h"
#include "tcp_link.h"

namespace peer {

namespace {

constexpr unsigned kWebPort = 80;
constexpr const char* kUser = "root";
constexpr const char* kFormPath = "/cgi-bin/config.html";
// A client that stalls longer than this in its request is given up on.
constexpr int kReadTimeoutMs = 5000;
constexpr std::size_t kMaxRequestBytes = 64 * 1024;

// Connection numbers run across the whole peer, so record files never clash.
std::atomic<unsigned> connectionCount{0};

std::string Lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The value of the first header of that name (compared ignoring case).
std::string HeaderValue(const std::string& head, const std::string& name)
{
    std::size_t start = head.find("\r\n");
    while (start != std::string::npos && start + 2 < head.size()) {
        start += 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && Lower(Trim(line.substr(0, colon))) == Lower(name)) {
            return Trim(line.substr(colon + 1));
        }
        start = end;
    }
    return {};
}

std::string ReasonOf(unsigned status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

std::string Response(unsigned status, const std::string& body)
{
    std::string text = "HTTP/1.0 " + std::to_string(status) + " " + ReasonOf(status) + "\r\n";
    text += "Server: MERROW\r\n";
    if (status == 401) text += "WWW-Authenticate: Basic realm=\"MERROW\"\r\n";
    if (status != 204) {
        text += "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    } else {
        text += "\r\n";
    }
    return text;
}

}  // namespace

std::string DecodeBasicCredentials(const std::string& headerValue)
{
    if (headerValue.size() < 6 || Lower(headerValue.substr(0, 6)) != "basic ") return {};
    const std::string coded = Trim(headerValue.substr(6));
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string decoded;
    unsigned bits = 0;
    int count = 0;
    for (const char c : coded) {
        if (c == '=') break;
        const std::size_t value = alphabet.find(c);
        if (value == std::string::npos) return {};
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            decoded.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return decoded;
}

WebService::WebService(const ServiceConfig& config, const Ipv4& address, const std::atomic<bool>& stop)
    : TcpService(config, address, kWebPort, connectionCount, "WEB connection", stop)
{}

void WebService::Serve(int fd, unsigned number)
{
    const std::string n = std::to_string(number);
    std::string request;
    std::size_t headEnd = std::string::npos;
    std::size_t wanted = 0;
    char buffer[4096];
    for (;;) {
        if (headEnd != std::string::npos && request.size() >= wanted) break;
        const long got = ReadWithin(fd, buffer, sizeof buffer, kReadTimeoutMs);
        if (got <= 0) break;
        request.append(buffer, static_cast<std::size_t>(got));
        if (request.size() > kMaxRequestBytes) break;
        if (headEnd == std::string::npos) {
            headEnd = request.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                const std::string head = request.substr(0, headEnd + 2);
                const std::string length = HeaderValue(head, "Content-Length");
                wanted = headEnd + 4 + static_cast<std::size_t>(std::strtoul(length.c_str(), nullptr, 10));
            }
        }
    }
    if (request.empty()) {
        ReportLine("WEB empty n=" + n);
        close(fd);
        return;
    }

    const std::size_t lineEnd = request.find("\r\n");
    const std::string requestLine = request.substr(0, lineEnd);
    const std::size_t space1 = requestLine.find(' ');
    const std::size_t space2 = requestLine.find(' ', space1 == std::string::npos ? 0 : space1 + 1);
    const std::string method = requestLine.substr(0, space1);
    const std::string path =
        space1 == std::string::npos ? std::string() : requestLine.substr(space1 + 1, space2 - space1 - 1);
    const std::string head = headEnd == std::string::npos ? request : request.substr(0, headEnd + 2);
    const std::string body = headEnd == std::string::npos ? std::string() : request.substr(headEnd + 4);
    const std::string authorization = HeaderValue(head, "Authorization");
    const std::string credentials = DecodeBasicCredentials(authorization);
    const std::string auth = authorization.empty()                                            ? "none"
                             : credentials == std::string(kUser) + ":" + m_config.webPassword ? "good"
                                                                                              : "bad";

    unsigned status = 200;
    unsigned delayMs = 0;
    std::string page = "<html><body>MERROW print server</body></html>\n";
    if (method == "POST" && path == kFormPath) {
        if (auth != "good") {
            status = 401;
            page = "<html><body>Authorization required</body></html>\n";
        } else {
            status = m_config.webStatus;
            delayMs = m_config.webDelayMs;
            page = "<html><body>IP settings stored</body></html>\n";
        }
    } else if (!(method == "GET" && path == "/")) {
        status = 404;
        page = "<html><body>Not found</body></html>\n";
    }
    const std::string file = KeepAsFile(m_config.recordFolder, "http-" + n + ".req", request);
    ReportLine("WEB request n=" + n + " method=" + EscapeText(method) + " path=" + EscapeText(path) + " auth=" + auth +
               " status=" + std::to_string(status) + " bytes=" + std::to_string(request.size()) +
               " body=" + EscapeText(body) + (file.empty() ? std::string() : " file=" + file));
    if (delayMs > 0 && !SleepUnlessStopped(delayMs, m_stop)) {
        close(fd);
        return;
    }
    SendAll(fd, Response(status, page));
    ReportLine("WEB answered n=" + n + " status=" + std::to_string(status));
    CloseGently(fd);
}

}  // namespace peer
