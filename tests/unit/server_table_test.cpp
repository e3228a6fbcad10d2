#include <gtest/gtest.h>

#include <cctype>
#include <vector>

#include "engine/network_thread.h"
#include "engine/server_table.h"
#include "resources/texts.h"

using namespace tessel;

namespace {

// Mirrors the table from its notifications alone, as the window's model does.
class Mirror final : public ServerTableObserver {
public:
    void OnRowInserted(int index, const ServerRow& row) override { rows.insert(rows.begin() + index, row); }
    void OnRowChanged(int index, const ServerRow& row) override { rows[static_cast<std::size_t>(index)] = row; }
    void OnRowDeleted(int index) override { rows.erase(rows.begin() + index); }
    std::vector<ServerRow> rows{ServerRow{"   ", "   ", false}};
};

}  // namespace

TEST(ServerTable, NoteRowsLandAtTheIndicesTheNetworkThreadUses)
{
    ServerTable table;
    EXPECT_EQ(table.InsertNote(TextOf(IDS_NOTE_SCANNING)), 1);
    EXPECT_EQ(table.InsertNote(TextOf(IDS_NOTE_RUNNING)), 2);
    EXPECT_EQ(table.InsertNote(TextOf(IDS_NOTE_PREVENTS)), 3);
}

TEST(ServerTable, SortedInsertFindIgnoringCaseAndAMirrorThatStaysEqual)
{
    ServerTable table;
    Mirror mirror;
    table.SetObserver(&mirror);
    table.Delete(0);
    EXPECT_EQ(table.InsertServer("0A-1B-2D-00-00-01"), 0);
    EXPECT_EQ(table.InsertServer("0A-1B-2C-FF-00-01"), 0);
    EXPECT_EQ(table.InsertServer("0A-1B-2C-FF-00-02"), 1);
    EXPECT_EQ(table.InsertServer("11-00-00-00-00-00"), 3);
    EXPECT_TRUE(table.SetAddress(1, "10.0.0.7"));
    EXPECT_FALSE(table.SetAddress(4, "10.0.0.8"));
    EXPECT_FALSE(table.Delete(-1));

    EXPECT_EQ(table.Find("0a-1b-2c-ff-00-02"), 1);
    EXPECT_EQ(table.Find("0A-1B-2C-FF-00-0"), -1) << "whole text, not a prefix";

    const auto rows = table.Rows();
    ASSERT_EQ(rows.size(), mirror.rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].serial, mirror.rows[i].serial);
        EXPECT_EQ(rows[i].address, mirror.rows[i].address);
    }
    EXPECT_EQ(rows[1].address, "10.0.0.7");
}

// The binary search finds exactly what a look at every row would: the
// first equal row, ignoring case, among servers, notes, the placeholder and
// rows that stand twice.
TEST(ServerTable, FindAgreesWithALookAtEveryRow)
{
    ServerTable table;
    const std::vector<std::string> texts = {"0A-1B-2C-00-00-10", "0a-1b-2c-00-00-02", TextOf(IDS_NOTE_SCANNING),
                                            "0A-1B-2C-00-00-02", "FF-00-00-00-00-00", "0A-1B-2D-00-00-01",
                                            "11-22-33-44-55-66", "0A-1B-2C-00-00-1"};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i % 3 == 2)
            table.InsertNote(texts[i]);
        else
            table.InsertServer(texts[i]);
    }
    const auto rows = table.Rows();
    std::vector<std::string> queries = texts;
    queries.insert(queries.end(), {"   ", "", "0A-1B-2C-00-00-0", "0A-1B-2C-00-00-100", "ff-00-00-00-00-00", "zz"});
    for (const std::string& query : queries) {
        int expected = -1;
        for (std::size_t i = 0; i < rows.size() && expected < 0; ++i) {
            std::string a = rows[i].serial, b = query;
            for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            for (char& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (a == b) expected = static_cast<int>(i);
        }
        EXPECT_EQ(table.Find(query), expected) << "'" << query << "'";
    }
}

// A bounded table, step by step: heard times, the cap (a kept server always
// gets a row, the least recently heard other one making room), forgetting
// (kept rows never go, nor rows heard within the time), a keep-set replaced
// on the way, and a mirror fed only by the notifications stays equal.
TEST(ServerTable, BoundsForgetAndCapInOrder)
{
    struct Step {
        char op;  // 'i' insert if HasRoomFor, 'h' heard, 'k' keep-set, 'f' forget
        std::string serial;
        std::int64_t nowMs;
        std::vector<std::string> rowsAfter;  // server serials, in order
    };
    const std::string a = "0A-1B-2C-00-00-0A", b = "0A-1B-2C-00-00-0B", c = "0A-1B-2C-00-00-0C",
                      d = "0A-1B-2C-00-00-0D";
    const std::vector<Step> steps = {
        {'k', "0a-1b-2c-00-00-0d", 0, {}},
        {'i', b, 0, {b}},
        {'i', a, 10, {a, b}},
        {'i', c, 20, {a, b}},  // full, not kept: not listed
        {'h', b, 30, {a, b}},
        {'i', d, 40, {b, d}},  // kept: the least recently heard (a) makes room
        {'f', "", 1029, {b, d}},
        {'f', "", 1030, {d}},  // b heard at 30 is 1000 ms old
        {'i', c, 1040, {c, d}},
        {'k', c, 1050, {c, d}},  // reloaded: c kept, d not any more
        {'f', "", 5000, {c}},
    };
    ServerTable table;
    Mirror mirror;
    table.SetObserver(&mirror);
    table.Delete(0);
    table.SetBounds({2, 1000});
    for (std::size_t n = 0; n < steps.size(); ++n) {
        const Step& step = steps[n];
        switch (step.op) {
        case 'k':
            table.SetKept({step.serial});
            break;
        case 'i':
            if (table.HasRoomFor(step.serial)) table.InsertServer(step.serial, step.nowMs);
            break;
        case 'h':
            EXPECT_GE(table.FindHeard(step.serial, step.nowMs), 0) << n;
            break;
        case 'f':
            table.Forget(step.nowMs);
            break;
        }
        std::vector<std::string> serials, mirrored;
        for (const auto& row : table.Rows()) serials.push_back(row.serial);
        for (const auto& row : mirror.rows) mirrored.push_back(row.serial);
        EXPECT_EQ(serials, step.rowsAfter) << "step " << n;
        EXPECT_EQ(mirrored, step.rowsAfter) << "step " << n;
    }
}
