// serve's command line and status's report from a ledger and a plan.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/serve_run.h"
#include "cli/status_report.h"

using namespace tessel;
using namespace tessel::cli;

TEST(ServeArguments, TakesPlansOptionsAndItsOwnRefusesAnEnd)
{
    struct Case {
        std::vector<std::string> args;
        std::string error;  // a part of the complaint; empty: accepted
    } cases[] = {
        {{"plan.csv", "--check"}, ""},
        {{"plan.csv", "--ledger", "/tmp/l", "--parallel", "3", "--all", "--yes"}, ""},
        {{"plan.csv", "--test-only-backoff-divisor", "60"}, ""},
        {{"plan.csv", "--test-only-backoff-divisor", "0"}, "above 0"},
        {{"plan.csv", "--seconds", "10"}, "serve takes no --seconds"},
        {{"plan.csv", "--json"}, "serve takes no --json"},
        {{"plan.csv", "--bogus"}, "for serve: --bogus"},
        {{}, "serve needs one plan file"},
        {{"a.csv", "b.csv"}, "serve needs one plan file"},
    };
    for (const Case& c : cases) {
        ServeArguments serve;
        const std::string error = ParseServe(c.args, serve);
        if (c.error.empty())
            EXPECT_EQ(error, "") << c.args.size();
        else
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    ServeArguments serve;
    ASSERT_EQ(ParseServe({"p.csv", "--check", "--ledger", "L", "--parallel", "3", "--all"}, serve), "");
    EXPECT_TRUE(serve.check);
    EXPECT_EQ(serve.ledger, "L");
    EXPECT_EQ(serve.plan.parallel, 3);
    EXPECT_FALSE(serve.plan.options.onlyMerrow);
    EXPECT_EQ(serve.plan.file, "p.csv");
}

TEST(ServeStatus, LastOutcomeNeverSeenBackOffAndServersThePlanDropped)
{
    const std::int64_t now = 1'796'000'000'000;
    const std::vector<PlanEntry> plan{{2, "0A-1B-2C-00-00-01", {10, 0, 0, 1}},
                                      {3, "0A-1B-2C-00-00-02", {10, 0, 0, 2}},
                                      {4, "0A-1B-2C-00-00-03", {10, 0, 0, 3}}};
    service::LedgerLatest ledger;
    for (service::LedgerLine line : std::vector<service::LedgerLine>{
             {now - 9000, "0A-1B-2C-00-00-01", "10.0.0.1", "not verified", 3, "why", 1, now - 8000},  // passed
             {now - 5000, "0A-1B-2C-00-00-01", "10.0.0.1", "stored", 5, "why", 0, 0},
             // Stored at an address the plan has changed since; the line that
             // holds is older than its last.
             {now - 4800, "0A-1B-2C-00-00-02", "10.0.0.7", "already set", 1, "why", 0, 0},
             {now - 4000, "0A-1B-2C-00-00-02", "10.0.0.2", "address in use", 0, "why", 2, now + 60'000},
             {now - 3000, "0A-1B-2C-00-00-09", "10.0.0.9", "address in use", 0, "why\xff\x01", 1, now + 60'000},
         })
        ledger.Add(std::move(line));
    const auto rows = BuildStatus(plan, ledger, now);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].last.result, "stored");
    EXPECT_FALSE(rows[0].inBackOff);
    EXPECT_TRUE(rows[1].inBackOff);
    EXPECT_FALSE(rows[2].seen);
    EXPECT_FALSE(rows[3].planned);
    EXPECT_FALSE(rows[3].inBackOff);  // serve answers nobody outside the plan
    const std::string json = StatusJson(rows);
    EXPECT_NE(json.find("{\"summary\":{\"planned\":3,\"seen\":2,\"never_seen\":1,\"in_back_off\":1}}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"serial\":\"0A-1B-2C-00-00-03\",\"address\":\"10.0.0.3\",\"stored_address\":null,"
                        "\"planned\":true,\"last\":null,\"back_off_until\":null"),
              std::string::npos);
    EXPECT_NE(json.find("\"address\":\"10.0.0.2\",\"stored_address\":\"10.0.0.7\""), std::string::npos) << json;
    // Not UTF-8: escaped, so the line stays JSON.
    EXPECT_NE(json.find("\"why\":\"why\\\\xff\\u0001\""), std::string::npos) << json;
    const std::string text = StatusText(rows);
    EXPECT_NE(text.find("10.0.0.2 (stored 10.0.0.7)"), std::string::npos) << text;
    EXPECT_EQ(text.find("10.0.0.1 (stored"), std::string::npos) << text;
    EXPECT_NE(text.find("address in use (not in the plan)"), std::string::npos) << text;
    EXPECT_NE(text.find("3 planned: 2 seen, 1 never seen, 1 in back-off."), std::string::npos) << text;
}

// --check refuses what the start refuses, with the start's status: a ledger
// place that cannot be written (73), never "good" for it.
TEST(ServeCheck, RefusesTheLedgerPlaceAndInterfaceNamesTheStartRefuses)
{
    const std::string folder = ::testing::TempDir() + "tessel-check-" + std::to_string(::getpid());
    ASSERT_EQ(std::system(("rm -rf " + folder + " && mkdir -p " + folder + "/ledger.d").c_str()), 0);
    const std::string plan = folder + "/plan.csv", file = folder + "/plain";
    std::ofstream(plan) << "0A-1B-2C-00-00-01,10.0.0.7\n";
    std::ofstream(file) << "x";
    struct Case {
        std::string ledger;
        int status;
    } cases[] = {
        {folder + "/ledger", 0},           // made at the first start
        {folder + "/ledger.d", 73},        // a folder in its place
        {folder + "/missing/ledger", 73},  // no folder
        {file + "/ledger", 73},            // its folder is a file
    };
    for (const Case& c : cases) {
        ServeArguments serve;
        ASSERT_EQ(ParseServe({plan, "--check", "--ledger", c.ledger}, serve), "");
        EXPECT_EQ(CheckServePlan(serve), c.status) << c.ledger;
        EXPECT_EQ(LedgerPlaceProblem(c.ledger).empty(), c.status == 0) << c.ledger;
    }
    for (const auto& [name, good] : std::vector<std::pair<std::string, bool>>{
             {"eth0", true}, {"enp0s31f6.100", true}, {"", false}, {"a/b", false}, {"sixteen-letters!", false}}) {
        ServeArguments serve;
        ASSERT_EQ(ParseServe({plan, "--interface", name}, serve), "");
        EXPECT_EQ(ServeInterfaceProblem(serve).empty(), good) << name;
    }
    std::system(("rm -rf " + folder).c_str());
}
