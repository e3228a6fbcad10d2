// The FTP route against a loopback FTP server (Debian's pyftpdlib, started
// by the test): the events and the stage of every outcome, and the bytes of
// the file that the server receives.
#include "engine/ftp_store.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <netinet/in.h>

#include <memory>
#include <optional>

#include "platform/internet_session.h"
#include "engine/shared_state.h"
#include "log/events.h"
#include "log/logfile.h"
#include "workers_test_support.h"

namespace tessel {
namespace {

using tessel::testing::EventLine;

TEST(ConfigFileContent, FormatChosenByNameIgnoringCase)
{
    EXPECT_EQ(ConfigFileContent("CONFIG", "10.0.0.7"), std::string("INT_ADDR.    : 10.0.0.7 \r\n"));
    EXPECT_EQ(ConfigFileContent("CONFIG", "10.0.0.7")->size(), 26U);
    EXPECT_EQ(ConfigFileContent("config.ini", "10.0.0.7"),
              std::string("[IP] \r\nInternetAddress       = 10.0.0.7 \r\n"));
    EXPECT_EQ(ConfigFileContent("config.ini", "10.0.0.7")->size(), 42U);
    EXPECT_EQ(ConfigFileContent("config.ini", "192.168.100.200")->size(), 49U);
    EXPECT_EQ(ConfigFileContent("Config", "1.2.3.4"), ConfigFileContent("CONFIG", "1.2.3.4"));
    EXPECT_EQ(ConfigFileContent("Config.INI", "1.2.3.4"), ConfigFileContent("config.ini", "1.2.3.4"));
    // No format, so such a file is never written.
    EXPECT_FALSE(ConfigFileContent("config.ini.bak", "1.2.3.4"));
    EXPECT_FALSE(ConfigFileContent("CONFIG ", "1.2.3.4"));
    EXPECT_FALSE(ConfigFileContent("", "1.2.3.4"));
}

TEST(ConfigFileName, OneEntryMeansConfigSeveralMeanTheFirst)
{
    EXPECT_FALSE(ConfigFileName({}));
    EXPECT_EQ(ConfigFileName({"whatever.txt"}), std::string("CONFIG"));
    EXPECT_EQ(ConfigFileName({"Config.INI", "CONFIG"}), std::string("Config.INI"));
    EXPECT_EQ(ParseNameListing("config.ini\r\nCONFIG\r\n"), (std::vector<std::string>{"config.ini", "CONFIG"}));
    EXPECT_EQ(ParseNameListing("a\nb"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(ParseNameListing("\r\n\r\n").empty());
    // A lone CR inside a name is part of the name, not a line end.
    EXPECT_EQ(ParseNameListing("x\ry\r\n"), (std::vector<std::string>{"x\ry"}));
    // Only names that stay in the login directory are ever written.
    for (const char* name : {"CONFIG", "config.ini", "con fig", "..CONFIG"}) EXPECT_TRUE(IsPlainFileName(name)) << name;
    for (const char* name :
         {"", ".", "..", "../config.ini", "a/CONFIG", "/CONFIG", "CONFIG/", "a\\CONFIG", "CON\r\nFIG", "CONFIG\x7f"})
        EXPECT_FALSE(IsPlainFileName(name)) << name;
}

struct ServerScript {
    std::string listing = "[]";  // JSON list of names
    std::string nlstReply;
    std::string storReply;
    bool failAfterData = false;
    std::string password = "wxyz";

    ServerScript& NlstReply(std::string reply)
    {
        nlstReply = std::move(reply);
        return *this;
    }
    ServerScript& StorReply(std::string reply)
    {
        storReply = std::move(reply);
        return *this;
    }
    ServerScript& FailAfterData()
    {
        failAfterData = true;
        return *this;
    }
    ServerScript& Password(std::string text)
    {
        password = std::move(text);
        return *this;
    }
};

ServerScript Listing(std::string json)
{
    ServerScript script;
    script.listing = std::move(json);
    return script;
}

class FtpStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tessel::testing::ClearProxyEnvironment(); }

    void SetUp() override { Prepare(); }

    // A fresh server folder, logfile and stage; also between the rounds of
    // one test.
    void Prepare()
    {
        m_server.reset();
        m_log.reset();
        m_shared.logFile = nullptr;
        ASSERT_FALSE(m_dir.path().empty());
        std::filesystem::remove_all(m_dir.path() / "root");
        std::filesystem::remove(m_dir.path() / "commands.log");
        std::filesystem::create_directory(m_dir.path() / "root");
        m_shared.stage.store(StageVerified);
        // The logfile's folder is given from the system drive's root.
        m_log = std::make_unique<CLogfile>(m_dir.path().relative_path().string(), "ftp.log");
        ASSERT_TRUE(m_log->IsOpen());
        m_shared.logFile = m_log.get();
    }

    // Starts the server; false (with a reason) when it cannot run here.
    bool StartServer(const ServerScript& script)
    {
        std::vector<std::string> argv = {"/usr/bin/python3",
                                         TESSEL_FTP_TEST_SERVER,
                                         "--root",
                                         (m_dir.path() / "root").string(),
                                         "--log",
                                         (m_dir.path() / "commands.log").string(),
                                         "--listing",
                                         script.listing,
                                         "--password",
                                         script.password};
        if (!script.nlstReply.empty()) argv.insert(argv.end(), {"--nlst-reply", script.nlstReply});
        if (!script.storReply.empty()) argv.insert(argv.end(), {"--stor-reply", script.storReply});
        if (script.failAfterData) argv.push_back("--fail-after-data");
        m_server = std::make_unique<tessel::testing::ChildProcess>(argv);
        const std::string port = m_server->ReadLine();
        if (port.empty()) return false;
        m_port = static_cast<std::uint16_t>(std::stoi(port));
        return true;
    }

    // Runs the route and returns the events it wrote.
    std::vector<std::string> Store()
    {
        StoreOverFtp("127.0.0.1", m_session, m_shared, m_port);
        m_log.reset();  // writes the file out
        m_shared.logFile = nullptr;
        return tessel::testing::EventLines(m_dir.path() / "ftp.log");
    }

    std::string Commands() { return tessel::testing::ReadFile(m_dir.path() / "commands.log"); }

    // True once the server has seen the control connection end.
    bool ConnectionClosed()
    {
        return tessel::testing::WaitUntil([this] { return Commands().find("DISCONNECT") != std::string::npos; }, 3000);
    }

    std::optional<std::string> Uploaded(const std::string& name)
    {
        const auto path = m_dir.path() / "root" / name;
        if (!std::filesystem::exists(path)) return std::nullopt;
        return tessel::testing::ReadFile(path);
    }

    // How many of the server's log lines are exactly `line`.
    std::size_t CountLines(const std::string& log, const std::string& line)
    {
        const std::string text = "\n" + log;
        const std::string what = "\n" + line + "\n";
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    tessel::testing::TempDir m_dir;
    InternetSession m_session{"tessel-test"};
    SharedState m_shared;
    std::unique_ptr<CLogfile> m_log;
    std::unique_ptr<tessel::testing::ChildProcess> m_server;
    std::uint16_t m_port = 0;
};

#define START_SERVER(...)          \
    if (!StartServer(__VA_ARGS__)) \
    GTEST_SKIP() << "the loopback FTP server (/usr/bin/python3 with pyftpdlib) did not start"

const std::string kAddress = "127.0.0.1";

TEST_F(FtpStoreTest, OneEntryWritesConfigInTheFirstFormatOverOneActiveAsciiConnection)
{
    START_SERVER(Listing(R"(["CONFIG"])"));
    EXPECT_EQ(Store(),
              (std::vector<std::string>{EventLine(EvFtpStoreStarted), EventLine(EvFtpConnected),
                                        EventLine(EvFtpFileName, "CONFIG"), EventLine(EvFtpFileOpened),
                                        EventLine(EvFtpStoreFinished), EventLine(EvPermanentSuccess, kAddress)}));
    EXPECT_EQ(m_shared.stage.load(), StageStored);
    EXPECT_EQ(Uploaded("CONFIG"), "INT_ADDR.    : " + kAddress + " \r\n");

    ASSERT_TRUE(ConnectionClosed());
    const std::string commands = Commands();
    EXPECT_EQ(CountLines(commands, "CONNECT"), 1U) << "one control connection for listing and upload:\n" << commands;
    EXPECT_EQ(CountLines(commands, "DISCONNECT"), 1U);
    EXPECT_EQ(CountLines(commands, "USER root"), 1U);
    EXPECT_EQ(CountLines(commands, "QUIT"), 1U);
    EXPECT_NE(commands.find("NLST CONFIG\n"), std::string::npos);
    // Active mode, ASCII type set before the file is sent.
    EXPECT_NE(commands.find("PORT "), std::string::npos);
    EXPECT_EQ(commands.find("PASV"), std::string::npos);
    EXPECT_EQ(commands.find("EPSV"), std::string::npos);
    const auto stor = commands.find("STOR CONFIG\n");
    ASSERT_NE(stor, std::string::npos);
    const auto lastType = commands.rfind("TYPE ", stor);
    ASSERT_NE(lastType, std::string::npos);
    EXPECT_EQ(commands.substr(lastType, 7), "TYPE A\n");
}

TEST_F(FtpStoreTest, OneEntryOfAnyNameStillWritesConfig)
{
    START_SERVER(Listing(R"(["cfg.old"])"));
    const auto events = Store();
    ASSERT_GE(events.size(), 3U);
    EXPECT_EQ(events[2], EventLine(EvFtpFileName, "CONFIG"));
    EXPECT_EQ(m_shared.stage.load(), StageStored);
    EXPECT_EQ(Uploaded("CONFIG"), "INT_ADDR.    : " + kAddress + " \r\n");
    EXPECT_FALSE(Uploaded("cfg.old"));
}

TEST_F(FtpStoreTest, SeveralEntriesWithConfigIniFirstRewriteItInTheSecondFormat)
{
    for (const std::string name : {"config.ini", "Config.INI"}) {
        SCOPED_TRACE(name);
        Prepare();
        START_SERVER(Listing("[\"" + name + "\", \"CONFIG\", \"other\"]"));
        EXPECT_EQ(Store(),
                  (std::vector<std::string>{EventLine(EvFtpStoreStarted), EventLine(EvFtpConnected),
                                            EventLine(EvFtpFileName, name), EventLine(EvFtpFileOpened),
                                            EventLine(EvFtpStoreFinished), EventLine(EvPermanentSuccess, kAddress)}));
        EXPECT_EQ(m_shared.stage.load(), StageStored);
        // Written under the name the server gave.
        EXPECT_EQ(Uploaded(name), "[IP] \r\nInternetAddress       = " + kAddress + " \r\n");
        EXPECT_FALSE(Uploaded("CONFIG"));
    }
}

TEST_F(FtpStoreTest, SeveralEntriesWithAnotherNameFirstWriteNothing)
{
    START_SERVER(Listing(R"(["readme.txt", "CONFIG", "config.ini"])"));
    EXPECT_EQ(Store(), (std::vector<std::string>{EventLine(EvFtpStoreStarted), EventLine(EvFtpConnected),
                                                 EventLine(EvFtpFileName, "readme.txt"), EventLine(EvFtpOpenFailed),
                                                 EventLine(EvFtpStoreFinished)}));
    EXPECT_EQ(m_shared.stage.load(), StageVerified);
    EXPECT_EQ(Commands().find("STOR"), std::string::npos);
    EXPECT_TRUE(ConnectionClosed());
}

TEST_F(FtpStoreTest, ANameOutsideTheLoginDirectoryIsNeverWritten)
{
    START_SERVER(Listing(R"(["../config.ini", "CONFIG"])"));
    EXPECT_EQ(Store(), (std::vector<std::string>{EventLine(EvFtpStoreStarted), EventLine(EvFtpConnected),
                                                 EventLine(EvFtpFileName, "../config.ini"), EventLine(EvFtpOpenFailed),
                                                 EventLine(EvFtpStoreFinished)}));
    EXPECT_EQ(m_shared.stage.load(), StageVerified);
    EXPECT_EQ(Commands().find("STOR"), std::string::npos);
    EXPECT_EQ(Commands().find("CWD"), std::string::npos);
}

TEST_F(FtpStoreTest, AServerGivenNameIsLoggedOnOneLine)
{
    // Control characters in a name must not reach the logfile as such (an
    // escape sequence or a line break would forge what a reader sees), and
    // the name selects no format.
    START_SERVER(Listing(R"(["evil\u001bname\t", "CONFIG"])"));
    const auto events = Store();
    EXPECT_EQ(events, (std::vector<std::string>{EventLine(EvFtpStoreStarted), EventLine(EvFtpConnected),
                                                "FTP config file name is evil?name?.", EventLine(EvFtpOpenFailed),
                                                EventLine(EvFtpStoreFinished)}));
    EXPECT_EQ(m_shared.stage.load(), StageVerified);
}

TEST_F(FtpStoreTest, NothingFoundIsTheSameForAnEmptyListAnd450And550)
{
    const ServerScript scripts[] = {Listing("[]"), Listing("[]").NlstReply("450 No files found."),
                                    Listing("[]").NlstReply("550 No such file or directory.")};
    for (const ServerScript& script : scripts) {
        SCOPED_TRACE(script.nlstReply.empty() ? "empty list" : script.nlstReply);
        Prepare();
        START_SERVER(script);
        EXPECT_EQ(Store(), (std::vector<std::string>{EventLine(EvFtpStoreStarted), EventLine(EvFtpConnected),
                                                     EventLine(EvFtpNotFound), EventLine(EvFtpStoreFinished)}));
        EXPECT_EQ(m_shared.stage.load(), StageVerified);
        EXPECT_EQ(Commands().find("STOR"), std::string::npos);
        EXPECT_TRUE(ConnectionClosed());
    }
}

TEST_F(FtpStoreTest, AChangedPasswordFailsTheConnection)
{
    START_SERVER(Listing(R"(["CONFIG"])").Password("changed"));
    EXPECT_EQ(Store(), (std::vector<std::string>{EventLine(EvFtpStoreStarted), EventLine(EvFtpConnectFailed)}));
    EXPECT_EQ(m_shared.stage.load(), StageVerified);
    EXPECT_EQ(Commands().find("NLST"), std::string::npos);
    EXPECT_TRUE(ConnectionClosed());
}

TEST_F(FtpStoreTest, NoFtpServiceFailsTheConnection)
{
    const tessel::testing::RefusingPort refusing;
    ASSERT_NE(refusing.port(), 0);
    m_port = refusing.port();
    EXPECT_EQ(Store(), (std::vector<std::string>{EventLine(EvFtpStoreStarted), EventLine(EvFtpConnectFailed)}));
    EXPECT_EQ(m_shared.stage.load(), StageVerified);
}

TEST_F(FtpStoreTest, ARefusedUploadIsAFailedOpen)
{
    START_SERVER(Listing(R"(["CONFIG"])").StorReply("553 Requested action not taken."));
    EXPECT_EQ(Store(), (std::vector<std::string>{EventLine(EvFtpStoreStarted), EventLine(EvFtpConnected),
                                                 EventLine(EvFtpFileName, "CONFIG"), EventLine(EvFtpOpenFailed),
                                                 EventLine(EvFtpStoreFinished)}));
    EXPECT_EQ(m_shared.stage.load(), StageVerified);
    EXPECT_TRUE(ConnectionClosed());
}

TEST_F(FtpStoreTest, AnUploadThatFailsAfterItsDataIsAFailedWrite)
{
    START_SERVER(Listing(R"(["CONFIG"])").FailAfterData());
    EXPECT_EQ(Store(), (std::vector<std::string>{EventLine(EvFtpStoreStarted), EventLine(EvFtpConnected),
                                                 EventLine(EvFtpFileName, "CONFIG"), EventLine(EvFtpFileOpened),
                                                 EventLine(EvFtpWriteFailed), EventLine(EvFtpStoreFinished)}));
    EXPECT_EQ(m_shared.stage.load(), StageVerified);
    EXPECT_TRUE(ConnectionClosed());
}

}  // namespace
}  // namespace tessel
