#include "platform/paths.h"

#include <algorithm>

namespace tessel {

#ifdef _WIN32
std::string SystemDriveRoot()
{
    return "C:\\";
}
std::string NativeSeparators(std::string path)
{
    return path;
}
#else
std::string SystemDriveRoot()
{
    return "/";
}
std::string NativeSeparators(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}
#endif

}  // namespace tessel
