#include <gtest/gtest.h>

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
