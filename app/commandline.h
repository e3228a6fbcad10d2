// The program's command line: every parameter in the order given, and the
// one question the program asks of it, whether "ink" is among them.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "resources/installer_names.h"

namespace tessel {

class CTesselCommandLineInfo {
public:
    // Records a parameter, its leading "-" or "/" already removed.
    void AddParam(const char* param);

    // True when some parameter is exactly `param` (case-sensitive, whole).
    bool HasParam(const std::string& param) const;

    std::vector<std::string> m_params;
};

// Walks the program's arguments after its own name, as the system's
// command-line walk does: a leading "-" or "/" is removed, the rest
// recorded.
void ParseCommandLine(CTesselCommandLineInfo& info, std::span<char* const> args);

}  // namespace tessel
