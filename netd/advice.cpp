// The advice to a user who may not make the network steps: one for every
// command and front end, naming the group tessel or the helper's path,
// never the program itself (which must hold no capability). The words are
// in the text table.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include "netd/privileged_steps.h"
#include "platform/privileges.h"
#include "resources/texts.h"

namespace tessel {

namespace {

std::string Basename(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

std::string GroupAccessAdvice(const std::string& program)
{
    const passwd* account = ::getpwuid(::getuid());
    const std::string user = account != nullptr ? account->pw_name : "USER";
    bool listed = false;
    if (const group* entry = ::getgrnam("tessel"); entry != nullptr)
        for (char** member = entry->gr_mem; member != nullptr && *member != nullptr; ++member)
            listed = listed || user == *member;
    return FormatText(IDS_ADVICE_NO_ACCESS, Basename(program)) +
           (listed ? TextOf(IDS_ADVICE_LOG_IN_AGAIN) : FormatText(IDS_ADVICE_JOIN_GROUP, user));
}

std::string CapabilitiesAdvice(const std::string& program)
{
    switch (NetHelperState()) {
    case HelperStart::NoAccess:
        return GroupAccessAdvice(program);
    case HelperStart::Missing:
        return FormatText(IDS_ADVICE_HELPER_MISSING, NetHelperPath());
    default:
        return FormatText(IDS_ADVICE_HELPER_RIGHTS, NetHelperPath());
    }
}

}  // namespace tessel
