// A network thread on a scripted channel and a virtual clock: the start-up
// note and every pause take no time, and each datagram is handed over in
// order, so the listing rules can be checked row by row and line by line.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include <unistd.h>

#include "engine/network_thread.h"
#include "engine/server_table.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "tests/test_clocks.h"

using tessel::testing::VirtualClock;

namespace tessel::testing {

// A request as a server would send it, built here without the engine's help.
struct RequestShape {
    std::array<std::uint8_t, 6> mac{0x0A, 0x1B, 0x2C, 0x00, 0x00, 0x01};
    std::array<std::uint8_t, 4> source{0, 0, 0, 0};
    std::uint16_t port = 68;
    std::vector<std::uint8_t> options;
    std::uint8_t op = 1;
    std::size_t length = 300;
    int interfaceIndex = 0;  // where it arrives; 0: unknown
};

inline std::vector<std::uint8_t> BuildRequest(const RequestShape& shape)
{
    std::vector<std::uint8_t> b(shape.length, 0);
    b[0] = shape.op;
    b[1] = 1;
    b[2] = 6;
    b[4] = 0x12;
    b[5] = 0x34;
    std::copy(shape.mac.begin(), shape.mac.end(), b.begin() + 28);
    const std::uint8_t cookie[] = {99, 130, 83, 99};
    std::copy(cookie, cookie + 4, b.begin() + 236);
    std::copy(shape.options.begin(), shape.options.end(), b.begin() + 240);
    b[240 + shape.options.size()] = 255;
    return b;
}

inline std::vector<std::uint8_t> VendorClassOption(const char* cls)
{
    return {43, 12, 42, 0, 0, 0, 0, 0, 'T', 0, static_cast<std::uint8_t>(cls[0]), static_cast<std::uint8_t>(cls[1]),
            0,  0};
}

class ScriptedChannel final : public BootpChannel {
public:
    struct Item {
        ReceiveStatus status = ReceiveStatus::Ok;
        std::vector<std::uint8_t> bytes;
        std::array<std::uint8_t, 4> source{};
        std::uint16_t port = 68;
        int interfaceIndex = 0;
    };

    OpenResult openResult = OpenResult::Ok;

    OpenResult Open() override { return openResult; }

    ReceiveStatus Receive(BootpMessage& message) override
    {
        message.Clear();
        std::unique_lock<std::mutex> lock(m_lock);
        m_waiting = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_items.empty() || m_woken; });
        m_waiting = false;
        if (m_items.empty()) {  // woken as a shut-down socket wakes: empty, no source
            return ReceiveStatus::Closed;
        }
        Item item = std::move(m_items.front());
        m_items.pop_front();
        ++m_delivered;
        std::copy(item.bytes.begin(), item.bytes.end(), message.buffer.begin());
        message.length = item.bytes.size();
        message.sourceAddress = item.source;
        message.sourcePort = item.port;
        message.interfaceIndex = item.interfaceIndex;
        message.hasSource = true;
        return item.status;
    }

    bool SendReply(std::span<const std::uint8_t> reply, const BootpMessage&) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        replies.emplace_back(reply.begin(), reply.end());
        return sendSucceeds;
    }

    bool HasPending() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return !m_items.empty();
    }

    void Wake() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_woken = true;
        m_changed.notify_all();
    }

    void Close() override { closed = true; }

    void Push(Item item)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_items.push_back(std::move(item));
        m_changed.notify_all();
    }

    // All at once, as a burst finds them waiting in the socket.
    void PushRequests(const std::vector<RequestShape>& shapes)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const RequestShape& shape : shapes)
            m_items.push_back(
                Item{ReceiveStatus::Ok, BuildRequest(shape), shape.source, shape.port, shape.interfaceIndex});
        m_changed.notify_all();
    }

    void PushRequest(const RequestShape& shape)
    {
        Push(Item{ReceiveStatus::Ok, BuildRequest(shape), shape.source, shape.port, shape.interfaceIndex});
    }

    // Waits (real time, bounded) until everything pushed has been taken and
    // the thread is back in Receive.
    bool WaitUntilIdle()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_items.empty() && m_waiting; });
    }

    std::vector<std::vector<std::uint8_t>> replies;
    bool sendSucceeds = true;
    std::atomic<bool> closed{false};

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Item> m_items;
    bool m_waiting = false;
    bool m_woken = false;
    int m_delivered = 0;
};

// Records each hand-over to the assignment procedure.
class RecordingProcedure final : public AssignmentProcedure {
public:
    struct Call {
        std::string serial, desired;
        std::int32_t stage;
    };
    AssignmentEnd Run(AssignmentContext& context, BootpMessage&, const std::string& serial,
                      const std::string& desired) override
    {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back({serial, desired, context.shared.stage.load()});
        return AssignmentEnd::BackToListening;
    }
    std::mutex lock;
    std::vector<Call> calls;
};

class NetworkBed : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir =
            std::filesystem::temp_directory_path() / ("tessel-net-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
        log = std::make_unique<CLogfile>(m_dir.relative_path().string(), "Tessel.log");
        ASSERT_TRUE(log->IsOpen());
        shared.logFile = log.get();
        shared.serverList = &table;
        shared.onlyMerrow = &onlyMerrow;
        shared.clock = &clock;
        shared.hostName = "install-pc";
        shared.hostAddress = "10.77.0.1";
    }

    void TearDown() override
    {
        if (thread) Stop();
        // An open file cannot be removed on every system: close it first.
        shared.logFile = nullptr;
        log.reset();
        std::filesystem::remove_all(m_dir);
    }

    void Start()
    {
        auto owned = std::make_unique<ScriptedChannel>();
        channel = owned.get();
        channel->openResult = openResult;
        thread = std::make_unique<NetworkThread>(shared, std::move(owned),
                                                 procedureUnderTest ? procedureUnderTest : &procedure);
        thread->Start();
    }

    void Idle() { ASSERT_TRUE(channel->WaitUntilIdle()) << "the network thread did not come back to receive"; }

    void Stop()
    {
        thread->RequestStop();
        EXPECT_TRUE(thread->WakeAndJoin(5000));
        thread.reset();
    }

    // The logfile's lines after the thread has stopped, time stamps removed.
    std::vector<std::string> LogLines()
    {
        if (thread) Stop();
        const std::string path = log->Path();
        log.reset();
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        std::vector<std::string> lines;
        std::istringstream text(std::regex_replace(s.str(), std::regex("\\d\\d:\\d\\d:\\d\\d - "), ""));
        for (std::string line; std::getline(text, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

    std::vector<std::pair<std::string, std::string>> Servers() const
    {
        std::vector<std::pair<std::string, std::string>> rows;
        for (const auto& row : table.Rows())
            if (row.isServer) rows.emplace_back(row.serial, row.address);
        return rows;
    }

    void Choose(const std::string& serial, const std::string& desired, std::int32_t stage)
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        shared.chosenSerial = serial;
        shared.desiredAddress = desired;
        shared.stage.store(stage);
    }

    VirtualClock clock;
    ServerTable table;
    std::atomic<int> onlyMerrow{1};
    SharedState shared;
    std::unique_ptr<CLogfile> log;
    RecordingProcedure procedure;
    AssignmentProcedure* procedureUnderTest = nullptr;  // null: the recording one
    ScriptedChannel* channel = nullptr;
    OpenResult openResult = OpenResult::Ok;
    std::unique_ptr<NetworkThread> thread;

private:
    std::filesystem::path m_dir;
};

}  // namespace tessel::testing
