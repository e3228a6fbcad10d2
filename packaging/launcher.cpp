// The command a user starts: /usr/bin/tessel and /usr/bin/tessel-cli. It
// holds no rights itself and replaces itself with the program, which the
// package lets only root and the group tessel run (docs/packaging.md). A
// user outside the group gets told how to get access instead of a bare
// "Permission denied" from the shell, or nothing at all from the menu.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef TESSEL_LAUNCHER_WINDOW
#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#endif

namespace {

// The program itself, relative to the folder of this launcher; set by the
// build from the installation's layout.
constexpr const char* kProgram = TESSEL_LAUNCHER_PROGRAM;
constexpr const char* kName = TESSEL_LAUNCHER_NAME;
constexpr const char* kGroup = "tessel";
// As the shell says them: found but not to be run by this user; not there.
constexpr int kExitNoAccess = 126;
constexpr int kExitMissing = 127;

std::string ProgramPath()
{
    char self[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = size > 0 ? std::string(self, static_cast<std::size_t>(size)) : std::string();
    folder = folder.substr(0, folder.rfind('/') + 1);
    return folder + kProgram;
}

std::string UserName()
{
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr ? user->pw_name : "USER";
}

// True when the group database lists the user, though this session lacks
// the group: it began before the user was added.
bool ListedInGroup(const std::string& user)
{
    const group* entry = ::getgrnam(kGroup);
    if (entry == nullptr) return false;
    for (char** member = entry->gr_mem; member != nullptr && *member != nullptr; ++member)
        if (user == *member) return true;
    return false;
}

std::string AccessMessage()
{
    const std::string user = UserName();
    std::string text = std::string(kName) + ": you may not use Tessel on this computer yet.\n";
    text +=
        "Tessel gives print servers their addresses with network rights that only root and\n"
        "the members of the group tessel have here.\n";
    if (ListedInGroup(user)) {
        text +=
            "You are a member of the group tessel, but this session began before you were added:\n"
            "log out and log in again.";
    } else {
        text +=
            "An administrator gives you access with\n"
            "  sudo usermod -aG tessel " +
            user + "\nand you then log out and log in again.";
    }
    return text;
}

void Tell(const std::string& text, [[maybe_unused]] int argc, [[maybe_unused]] char** argv)
{
    std::fprintf(stderr, "%s\n", text.c_str());
#ifdef TESSEL_LAUNCHER_WINDOW
    // Started from the menu, nobody reads the error output: the window's
    // user gets a message box wherever a display is there to show it.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) return;
    QApplication application(argc, argv);
    QMessageBox::warning(nullptr, QStringLiteral("Tessel"), QString::fromStdString(text));
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string program = ProgramPath();
    ::execv(program.c_str(), argv);
    const int error = errno;
    if (error == EACCES) {
        Tell(AccessMessage(), argc, argv);
        return kExitNoAccess;
    }
    Tell(std::string(kName) + ": cannot start " + program + ": " + std::strerror(error), argc, argv);
    return kExitMissing;
}
