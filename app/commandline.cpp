#include "app/commandline.h"

#include <algorithm>

namespace tessel {

void CTesselCommandLineInfo::AddParam(const char* param)
{
    m_params.emplace_back(param);
}

bool CTesselCommandLineInfo::HasParam(const std::string& param) const
{
    return std::find(m_params.begin(), m_params.end(), param) != m_params.end();
}

void ParseCommandLine(CTesselCommandLineInfo& info, std::span<char* const> args)
{
    for (std::size_t i = 1; i < args.size(); ++i) {
        const char* arg = args[i] ? args[i] : "";
        const bool flag = arg[0] == '-' || arg[0] == '/';
        info.AddParam(flag ? arg + 1 : arg);
    }
}

}  // namespace tessel
