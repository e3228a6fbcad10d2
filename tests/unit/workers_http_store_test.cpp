// The HTTP store against a small web server inside the test, on loopback:
// the request's exact bytes, the authentication exchange, which final
// statuses count, and a server slower than the starter's wait.
#include "workers/http_store.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/internet_session.h"
#include "platform/clock.h"
#include "workers_test_support.h"

namespace tessel {
namespace {

constexpr int kCallerWaitSteps = 20;  // the network thread's 2.8 s

struct Received {
    std::string head;  // request line and headers, up to the empty line
    std::string body;
};

// A one-connection-at-a-time HTTP/1.0 server that wants basic
// authentication (unless told otherwise) and answers each authenticated
// request with a fixed status, optionally after a delay.
class FormServer {
public:
    struct Script {
        int status = 200;
        int delayMs = 0;
        std::string password = "wxyz";
        bool requireAuth = true;
    };

    explicit FormServer(Script script) : m_script(std::move(script))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
            ::listen(m_listener, 8) != 0)
            return;
        socklen_t size = sizeof at;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&at), &size);
        m_port = ntohs(at.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~FormServer()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_listener >= 0) ::close(m_listener);
    }

    std::uint16_t port() const { return m_port; }
    std::vector<Received> requests()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_requests;
    }
    int answered() const { return m_answered.load(); }

private:
    bool WaitReadable(int fd)
    {
        while (!m_stop) {
            pollfd wait{fd, POLLIN, 0};
            if (::poll(&wait, 1, 20) > 0) return true;
        }
        return false;
    }

    void Serve()
    {
        while (WaitReadable(m_listener)) {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0) continue;
            Handle(fd);
            ::close(fd);
        }
    }

    void Handle(int fd)
    {
        std::string data;
        char buffer[4096];
        std::size_t headEnd;
        while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
            if (!WaitReadable(fd)) return;
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) return;
            data.append(buffer, static_cast<std::size_t>(got));
        }
        Received request{data.substr(0, headEnd + 4), data.substr(headEnd + 4)};
        const std::size_t length = ContentLength(request.head);
        while (request.body.size() < length) {
            if (!WaitReadable(fd)) return;
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            request.body.append(buffer, static_cast<std::size_t>(got));
        }
        const bool authorised = request.head.find("\r\nAuthorization: Basic " + Base64("root:" + m_script.password) +
                                                  "\r\n") != std::string::npos;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_requests.push_back(request);
        }
        std::string reply;
        if (m_script.requireAuth && !authorised) {
            reply =
                "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"MERROW\"\r\nContent-Length: 0\r\n\r\n";
        } else {
            for (int waited = 0; waited < m_script.delayMs && !m_stop; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            reply = "HTTP/1.0 " + std::to_string(m_script.status) + " Status\r\n";
            reply += m_script.status == 204 ? "\r\n" : "Content-Length: 2\r\n\r\nok";
        }
        ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        ++m_answered;
    }

    static std::size_t ContentLength(const std::string& head)
    {
        const auto at = head.find("\r\nContent-Length: ");
        return at == std::string::npos ? 0 : std::stoul(head.substr(at + 18));
    }

    static std::string Base64(const std::string& text)
    {
        static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        for (std::size_t i = 0; i < text.size(); i += 3) {
            std::uint32_t n = static_cast<std::uint8_t>(text[i]) << 16;
            if (i + 1 < text.size()) n |= static_cast<std::uint8_t>(text[i + 1]) << 8;
            if (i + 2 < text.size()) n |= static_cast<std::uint8_t>(text[i + 2]);
            out += digits[(n >> 18) & 63];
            out += digits[(n >> 12) & 63];
            out += i + 1 < text.size() ? digits[(n >> 6) & 63] : '=';
            out += i + 2 < text.size() ? digits[n & 63] : '=';
        }
        return out;
    }

    Script m_script;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_answered{0};
    std::mutex m_lock;
    std::vector<Received> m_requests;
    std::thread m_thread;
};

class HttpStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tessel::testing::ClearProxyEnvironment(); }

    std::shared_ptr<StoreRequest> Request(const FormServer& server, const std::string& address = "127.0.0.1")
    {
        auto request = std::make_shared<StoreRequest>(address, m_session);
        request->port = server.port();
        return request;
    }

    // Runs the worker to its end on this thread and returns its result.
    std::int32_t RunToEnd(const std::shared_ptr<StoreRequest>& request)
    {
        HttpStoreThread(request);
        return request->result.load();
    }

    std::shared_ptr<InternetSession> m_session = std::make_shared<InternetSession>("tessel-test");
};

TEST(StoreForm, BodyAndHeaderHaveTheirExactLengths)
{
    EXPECT_EQ(StoreFormBody("10.0.0.5"), "internetaddress=10.0.0.5&storeip=Store+IP+Settings");
    EXPECT_EQ(StoreFormBody("10.0.0.5").size(), 50U);
    EXPECT_EQ(StoreFormBody("192.168.100.200").size(), 42U + 15U);
    EXPECT_EQ(std::strlen(kStoreFormHeader), 49U);
}

TEST_F(HttpStoreTest, PostsTheFormWithItsExactBytesAndAuthenticatesAsRoot)
{
    FormServer server({});
    ASSERT_NE(server.port(), 0);
    EXPECT_EQ(RunToEnd(Request(server)), 1);

    const std::vector<Received> requests = server.requests();
    // Credentials go out only after the server asked for them; the body
    // goes out whole both times.
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].head.find("Authorization:"), std::string::npos);
    EXPECT_NE(requests[1].head.find("\r\nAuthorization: Basic cm9vdDp3eHl6\r\n"), std::string::npos);
    for (const Received& request : requests) {
        SCOPED_TRACE(request.head);
        EXPECT_EQ(request.head.rfind("POST /cgi-bin/config.html HTTP/1.0\r\n", 0), 0U);
        EXPECT_EQ(request.body, "internetaddress=127.0.0.1&storeip=Store+IP+Settings");
        EXPECT_NE(request.head.find("\r\nContent-Length: 51\r\n"), std::string::npos);
        // The extra header, byte for byte, and no second content type.
        EXPECT_NE(request.head.find("\r\nContent-type: application/x-www-form-urlencoded\r\n"), std::string::npos);
        EXPECT_EQ(request.head.find("Content-Type"), std::string::npos);
        EXPECT_NE(request.head.find("\r\nUser-Agent: tessel-test\r\n"), std::string::npos);
        EXPECT_EQ(request.head.find("Expect:"), std::string::npos);
    }
}

TEST_F(HttpStoreTest, OnlyAFinalStatusFrom200To299CountsAsStored)
{
    for (const auto& [status, stored] :
         {std::pair{200, 1}, {204, 1}, {299, 1}, {500, 0}, {302, 0}, {199, 0}, {300, 0}}) {
        SCOPED_TRACE(status);
        FormServer server({.status = status});
        EXPECT_EQ(RunToEnd(Request(server)), stored);
    }
    // A changed password: the server keeps answering 401.
    FormServer changed({.password = "changed"});
    EXPECT_EQ(RunToEnd(Request(changed)), 0);
    EXPECT_EQ(changed.requests().size(), 2U);
}

TEST_F(HttpStoreTest, NoWebServerLeavesTheResultAlone)
{
    const tessel::testing::RefusingPort refusing;
    ASSERT_NE(refusing.port(), 0);
    auto request = std::make_shared<StoreRequest>("127.0.0.1", m_session);
    request->port = refusing.port();
    EXPECT_EQ(RunToEnd(request), 0);
    // And a record without a session is no crash, only no result.
    auto bare = std::make_shared<StoreRequest>("127.0.0.1", nullptr);
    EXPECT_EQ(RunToEnd(bare), 0);
    HttpStoreThread(nullptr);
}

TEST_F(HttpStoreTest, ASlowServerIsAbandonedAndItsLateSuccessReachesNoRecord)
{
    // The server accepts the form only after 3.2 s, later than the
    // starter's 2.8 s. Meanwhile a second run starts with its own record
    // against a server that refuses.
    FormServer slow({.delayMs = 3200});
    FormServer refusing({.status = 500});
    auto first = Request(slow);
    ASSERT_TRUE(StartHttpStore(first));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(AwaitOutcome(*first, RealClock(), kCallerWaitSteps), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2800));
    EXPECT_TRUE(first->abandoned.load());

    auto second = Request(refusing);
    ASSERT_TRUE(StartHttpStore(second));

    // Both workers end, the slow one with a 200 in hand.
    ASSERT_TRUE(tessel::testing::WaitUntil([&] { return slow.answered() == 2 && first.use_count() == 1; }, 5000));
    ASSERT_TRUE(tessel::testing::WaitUntil([&] { return second.use_count() == 1; }, 5000));
    EXPECT_EQ(first->result.load(), 0);
    EXPECT_EQ(second->result.load(), 0);
    EXPECT_FALSE(second->abandoned.load());
}

TEST_F(HttpStoreTest, TheSystemsProxySettingIsUsed)
{
    // The "proxy" is another loopback server; the server named in the
    // request (127.0.0.9 on a closed port) is reached only through it.
    FormServer proxy({.requireAuth = false});
    ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
    auto request = std::make_shared<StoreRequest>("127.0.0.9", m_session);
    request->port = 9;
    const std::int32_t result = RunToEnd(request);
    ::unsetenv("http_proxy");
    EXPECT_EQ(result, 1);
    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].head.rfind("POST http://127.0.0.9:9/cgi-bin/config.html HTTP/1.0\r\n", 0), 0U);
}

}  // namespace
}  // namespace tessel
