// Records the hidden system commands instead of starting them.
#pragma once

#include <string>
#include <vector>

#include "platform/system_commands.h"

namespace tessel::testing {

class RecordingCommands final : public SystemCommands {
public:
    void DeleteNeighbour(const std::string& a) override { calls.push_back("delete " + a); }
    void SetStaticNeighbour(const std::string& a, const std::string& s, const std::string& h) override
    {
        calls.push_back("static " + a + " " + s + " " + h);
    }
    void PingOnce(const std::string& a) override { calls.push_back("ping " + a); }
    void PingBroadcast(const std::string& a) override { calls.push_back("ping -b " + a); }
    std::vector<std::string> calls;
};

}  // namespace tessel::testing
