// The support logfile, compared byte for byte with the time stamps masked.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <fstream>
#include <regex>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include <unistd.h>

#include "log/events.h"
#include "log/logfile.h"
#include "platform/paths.h"

using namespace tessel;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Masked(const std::string& text)
{
    return std::regex_replace(text, std::regex("[0-2][0-9]:[0-5][0-9]:[0-5][0-9] - "), "T - ");
}

// Runs each test in a fresh current directory, where the default logfile goes.
class LogfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_old = fs::current_path();
        m_dir = fs::temp_directory_path() / ("tessel-log-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        fs::current_path(m_dir);
    }
    void TearDown() override
    {
        fs::current_path(m_old);
        fs::remove_all(m_dir);
    }
    fs::path m_old, m_dir;
};

const char* const kHeader = "T - Initialized MERROW Tessel's logfile!\r\n\r\n";
const char* const kFooter = "\r\n\r\nT - Closed MERROW Tessel's logfile!\r\n";

}  // namespace

TEST_F(LogfileTest, DefaultFileInTheCurrentDirectoryWithExactLines)
{
    {
        std::ofstream("MERROW Tessel.log") << "the previous run's content\n";
        CLogfile log("Temp", "IP.log");
        ASSERT_TRUE(log.IsOpen());
        EXPECT_EQ(log.Path(), "MERROW Tessel.log");
        log.WriteNewLine();
        log.WriteEvent(EvRequestReceived, "0.0.0.0");
        log.WriteEvent(EvNotMerrowServer);
        log.WriteEvent(EvReplySent, "10.0.0.5");
        log.WriteEvent(EvCheckingList, "dropped");
        log.WriteEvent(27, "x");
        log.WriteEvent(-12);
    }
    EXPECT_EQ(Masked(ReadFile("MERROW Tessel.log")),
              std::string(kHeader) +
                  "\r\n"
                  "T - Received BOOTP/DHCP request from server with IP-address 0.0.0.0.\r\n"
                  "T - Not an MERROW-server.\r\n"
                  "T - Sent BOOTP/DHCP reply with desired IP-address 10.0.0.5.\r\n"
                  "T - Checking if already in list.\r\n"
                  "T - Unknown.\r\n"
                  "T - Unknown.\r\n" +
                  kFooter);
}

TEST_F(LogfileTest, SwitchingOffAndOnAndClosingWhileOff)
{
    {
        CLogfile log("Temp", "IP.log");
        log.WriteEvent(EvCheckingList);
        log.SetEnabled(false);
        log.WriteEvent(EvNewServer);  // not written
        log.WriteNewLine();           // not written
        log.SetEnabled(false);        // the off line again
        log.SetEnabled(true);
        log.WriteEvent(EvSerialNumber, "0A-1B-2C-01-02-FE");
        log.SetEnabled(false);
    }
    EXPECT_EQ(Masked(ReadFile("MERROW Tessel.log")), std::string(kHeader) +
                                                         "T - Checking if already in list.\r\n"
                                                         "\r\nT - Logfile writing turned off by user.\r\n"
                                                         "\r\nT - Logfile writing turned off by user.\r\n"
                                                         "T - Logfile writing turned on  by user.\r\n"
                                                         "T - Serialnumber 0A-1B-2C-01-02-FE.\r\n"
                                                         "\r\nT - Logfile writing turned off by user.\r\n" +
                                                         kFooter);
}

TEST_F(LogfileTest, EveryCatalogueTextAndOnlyEightCodesTakeTheValue)
{
    int withValue = 0;
    for (int code = -12; code <= 28; ++code) {
        const std::string text = EventText(code);
        const bool known = (code >= -11 && code <= 24) || code == 26;
        EXPECT_EQ(text == "Unknown", !known) << code;
        if (EventTakesValue(code)) {
            ++withValue;
            EXPECT_EQ(text.back(), ' ') << "a value text ends in a blank: " << code;
        }
    }
    EXPECT_EQ(withValue, 8);
    EXPECT_STREQ(EventText(EvBindFailed), "Socket already in use (bind failed)");
    EXPECT_STREQ(EventText(EvPrintServer), "This is a print server");
}

TEST_F(LogfileTest, ServerTextStaysOnOneLine)
{
    {
        CLogfile log("Temp", "IP.log");
        log.WriteEvent(EvFtpFileName, "CONFIG\r\n12:00:00 - Success setting permanent IP-address 1.2.3.4");
    }
    const std::string text = Masked(ReadFile("MERROW Tessel.log"));
    EXPECT_NE(text.find("T - FTP config file name is CONFIG??T - Success"), std::string::npos) << text;
}

TEST_F(LogfileTest, SecondHolderNeitherEmptiesNorWritesTheFile)
{
    auto first = std::make_unique<CLogfile>("Temp", "IP.log");
    first->WriteEvent(EvCheckingList);
    {
        CLogfile second("Temp", "IP.log");
        EXPECT_FALSE(second.IsOpen());
        second.WriteEvent(EvNewServer);
        second.SetEnabled(true);
    }
    first->WriteEvent(EvNotMerrowServer);
    first.reset();
    EXPECT_EQ(Masked(ReadFile("MERROW Tessel.log")),
              std::string(kHeader) + "T - Checking if already in list.\r\nT - Not an MERROW-server.\r\n" + kFooter);
}

TEST_F(LogfileTest, MissingFolderMeansSilentlyNoLogfile)
{
    CLogfile log("no-such-folder-for-tessel/really", "Tessel.log");
    EXPECT_FALSE(log.IsOpen());
    log.WriteEvent(EvCheckingList);
    log.SetEnabled(false);
    EXPECT_TRUE(log.IsEnabled()) << "a failed logfile keeps its switch as it was";
}

#ifndef _WIN32
// A FIFO that nobody reads would hold open() for ever, where no stop reaches.
TEST_F(LogfileTest, AFifoNobodyReadsIsRefusedNotWaitedFor)
{
    ASSERT_EQ(::mkfifo("unread.fifo", 0600), 0);
    for (const LogfileKind kind : {LogfileKind::Run, LogfileKind::Service}) {
        CLogfile log(LogfilePath{"unread.fifo", kind});
        EXPECT_FALSE(log.IsOpen());
        EXPECT_NE(log.Failure().find("No such device or address"), std::string::npos) << log.Failure();
    }
}
#endif

TEST_F(LogfileTest, InkwellLocationReplacesTheLastThreeCharacters)
{
    EXPECT_EQ(ChooseLogfileLocation(true, std::string("Programs\\Inkwell\\bin")).folder, "Programs\\Inkwell\\log");
    EXPECT_EQ(ChooseLogfileLocation(true, std::string("ab")).folder, "log");
    EXPECT_EQ(ChooseLogfileLocation(true, std::string("ab")).fileName, "Tessel.log");
    for (const auto& missing : {std::optional<std::string>{}, std::optional<std::string>{""}}) {
        const auto location = ChooseLogfileLocation(true, missing);
        EXPECT_EQ(location.folder, "Temp");
        EXPECT_EQ(location.fileName, "IP.log");
    }
    EXPECT_EQ(ChooseLogfileLocation(false, std::string("x\\bin")).folder, "Temp");

    // Below the system drive root, separators made native.
    const fs::path folder = m_dir / "Inkwell" / "log";
    fs::create_directories(folder);
    const std::string relative = (m_dir / "Inkwell" / "bin").relative_path().string();
    const auto location = ChooseLogfileLocation(true, relative);
    {
        CLogfile log(location.folder, location.fileName);
        ASSERT_TRUE(log.IsOpen()) << log.Path();
        EXPECT_EQ(fs::path(log.Path()), folder / "Tessel.log");
    }
    EXPECT_EQ(Masked(ReadFile(folder / "Tessel.log")), std::string(kHeader) + kFooter);
    // The drive path is taken literally: "Temp" with another file name is not the default.
    EXPECT_EQ(CLogfile::ResolvePath("Temp", "ip.log"), NativeSeparators(SystemDriveRoot() + "Temp\\ip.log"));
}

TEST_F(LogfileTest, LinesFromTwoThreadsNeverInterleave)
{
    {
        CLogfile log("Temp", "IP.log");
        auto writer = [&log](int code, const char* value) {
            for (int i = 0; i < 2000; ++i) log.WriteEvent(code, value);
        };
        std::thread a(writer, EvRequestReceived, "198.51.100.80");
        std::thread b(writer, EvSerialNumber, "0A-1B-2D-00-00-01");
        for (int i = 0; i < 200; ++i) log.SetEnabled(true);
        a.join();
        b.join();
    }
    std::istringstream lines(Masked(ReadFile("MERROW Tessel.log")));
    std::string line;
    int requests = 0, serials = 0, switches = 0;
    while (std::getline(lines, line)) {
        if (line == "T - Received BOOTP/DHCP request from server with IP-address 198.51.100.80.\r")
            ++requests;
        else if (line == "T - Serialnumber 0A-1B-2D-00-00-01.\r")
            ++serials;
        else if (line == "T - Logfile writing turned on  by user.\r")
            ++switches;
        else
            EXPECT_TRUE(line == "\r" || line.find("logfile!") != std::string::npos) << "torn line: " << line;
    }
    EXPECT_EQ(requests, 2000);
    EXPECT_EQ(serials, 2000);
    EXPECT_EQ(switches, 200);
}

// The switch is decided under the write lock: while it is off (between the
// off-line and the next on-line) no event line and no empty line appear.
TEST_F(LogfileTest, NothingLandsAfterTheOffLineWhileAWriterRaces)
{
    {
        CLogfile log("Temp", "IP.log");
        std::atomic<bool> done{false};
        std::thread writer([&] {
            while (!done.load()) {
                log.WriteNewLine();
                log.WriteEvent(EvSerialNumber, "0A-1B-2D-00-00-01");
            }
        });
        for (int i = 0; i < 1000; ++i) {
            log.SetEnabled(false);
            log.SetEnabled(true);
        }
        done.store(true);
        writer.join();
        log.SetEnabled(false);
    }
    std::istringstream lines(Masked(ReadFile("MERROW Tessel.log")));
    bool off = false;
    int offLines = 0, strays = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line == "T - Logfile writing turned off by user.\r") {
            off = true;
            ++offLines;
        } else if (line == "T - Logfile writing turned on  by user.\r") {
            off = false;
        } else if (off && line.find("logfile!") == std::string::npos && line != "\r") {
            ++strays;
        }
    }
    EXPECT_EQ(offLines, 1001);
    EXPECT_EQ(strays, 0) << "event lines written while the logfile was off";
}

// What is on disk while the object is still open (a killed program never
// closes it): every kind of line at once, except inside a batch, whose lines
// (a job's view's included) arrive together at its end.
TEST_F(LogfileTest, LinesReachTheFileAtOnceOutsideABatch)
{
    CLogfile log("Temp", "IP.log");
    CLogfile job(log, "0A-1B-2C-00-00-09");
    const std::string header = kHeader;
    auto onDisk = [] { return Masked(ReadFile("MERROW Tessel.log")); };
    EXPECT_EQ(onDisk(), header);
    log.WriteEvent(EvNotMerrowServer);
    log.SetEnabled(false);
    log.SetEnabled(true);
    const std::string single = header + "T - Not an MERROW-server.\r\n\r\nT - Logfile writing turned off by user.\r\n" +
                               "T - Logfile writing turned on  by user.\r\n";
    EXPECT_EQ(onDisk(), single);

    log.BeginBatch();
    log.WriteNewLine();
    job.WriteEvent(EvNotMerrowServer);
    EXPECT_EQ(onDisk(), single);
    log.EndBatch();
    const std::string batch = single + "\r\nT - [0A-1B-2C-00-00-09] Not an MERROW-server.\r\n";
    EXPECT_EQ(onDisk(), batch);
    job.WriteEvent(EvNotMerrowServer);
    EXPECT_EQ(onDisk(), batch + "T - [0A-1B-2C-00-00-09] Not an MERROW-server.\r\n");
}

TEST_F(LogfileTest, ServiceLogfileIsAppendedDatedAndOpenedAnewAfterARename)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows lets nobody rename or truncate the file while the logfile holds it";
#endif
    std::ofstream("support.log", std::ios::binary) << "the previous run's line\r\n";
    const std::regex dated("\\d{4}-\\d\\d-\\d\\d [0-2]\\d:[0-5]\\d:[0-5]\\d - ");
    {
        CLogfile log(LogfilePath{"support.log", LogfileKind::Service});
        ASSERT_TRUE(log.IsOpen());
        log.WriteEvent(EvNotMerrowServer);
        // logrotate's copytruncate: the next line lands at the new end, with
        // no gap of NUL bytes where the old end was.
        fs::resize_file("support.log", 0);
        log.WriteEvent(EvCheckingList);
        EXPECT_EQ(log.Reopen(), "");  // still the same file: nothing to do
        fs::rename("support.log", "support.log.1");
        log.WriteEvent(EvNewServer);
        EXPECT_EQ(log.Reopen(), "");
        log.WriteEvent(EvReplySent, "10.0.0.5");
    }
    const std::string rotated = ReadFile("support.log.1"), fresh = ReadFile("support.log");
    EXPECT_EQ(rotated.find('\0'), std::string::npos);
    EXPECT_EQ(std::regex_replace(rotated, dated, "D - "),
              "D - Checking if already in list.\r\nD - New server, so add to list.\r\n");
    EXPECT_EQ(std::regex_replace(fresh, dated, "D - "),
              "D - Sent BOOTP/DHCP reply with desired IP-address 10.0.0.5.\r\n" + std::string(kFooter).substr(0, 4) +
                  "D - Closed MERROW Tessel's logfile!\r\n");
    // The next run appends.
    {
        CLogfile again(LogfilePath{"support.log", LogfileKind::Service});
    }
    EXPECT_EQ(ReadFile("support.log").rfind(fresh, 0), 0u);
    // The run's own logfile is still replaced, time of day only.
    {
        CLogfile run(LogfilePath{"support.log"});
    }
    EXPECT_EQ(Masked(ReadFile("support.log")), std::string(kHeader) + kFooter);
}

TEST_F(LogfileTest, ServiceLogfileTellsAFailedWriteOncePerRunOfFailures)
{
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    CLogfile log(LogfilePath{"/dev/full", LogfileKind::Service});
    std::vector<std::string> told;
    log.OnWriteFailure([&told](const std::string& reason) { told.push_back(reason); });
    for (int i = 0; i < 3; ++i) log.WriteEvent(EvCheckingList);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], std::generic_category().message(ENOSPC));
    log.WriteEvent(EvCheckingList);
    EXPECT_EQ(told.size(), 1u);
}
