// Records the hidden system commands instead of starting them.
#pragma once

#include <string>
#include <vector>

#include "platform/system_commands.h"

namespace tessel::testing {

class RecordingCommands final : public SystemCommands {
public:
    bool DeleteNeighbour(const std::string& a) override
    {
        calls.push_back("delete " + a);
        return neighbourTableWritable;
    }
    bool SetStaticNeighbour(const std::string& a, const std::string& s, const std::string& h) override
    {
        calls.push_back("static " + a + " " + s + " " + h);
        return neighbourTableWritable;
    }
    void PingOnce(const std::string& a) override { calls.push_back("ping " + a); }
    void PingBroadcast(const std::string& a) override { calls.push_back("ping -b " + a); }
    std::vector<std::string> calls;
    // False: every change of the neighbour table fails, as without permission.
    bool neighbourTableWritable = true;
};

}  // namespace tessel::testing
