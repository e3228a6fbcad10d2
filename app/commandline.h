// The program's command line: every parameter in the order given, and the
// one question the program asks of it, whether "ink" is among them.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace tessel {

class CTesselCommandLineInfo {
public:
    virtual ~CTesselCommandLineInfo() = default;

    // Called for each parameter, its leading "-" or "/" already removed.
    // Both flags are ignored: every parameter is only recorded.
    virtual void ParseParam(const char* param, bool flag, bool last);

    // True when some parameter is exactly `param` (case-sensitive, whole).
    bool HasParam(const std::string& param) const;

    std::vector<std::string> m_params;
};

// Walks the program's arguments after its own name, as the system's
// command-line walk does: a leading "-" or "/" is removed and marks the
// argument as a flag; the rest goes to ParseParam.
void ParseCommandLine(CTesselCommandLineInfo& info, std::span<char* const> args);

// The switch the print-system installer gives.
inline constexpr const char* kInkwellSwitch = "ink";

}  // namespace tessel
