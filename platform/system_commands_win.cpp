#include "platform/system_commands.h"

#include <windows.h>

#include <vector>

#include "platform/text_win.h"

namespace tessel {

namespace {

// The system's own folder, where arp.exe and ping.exe live. The commands
// are started from there by full path: a file of the same name in the
// program's or the current folder is never run in their place.
std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT size = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (size == 0 || size >= MAX_PATH) return {};
    return folder;
}

// Starts `program` (a file in the system folder) with the command line
// `commandLine`, its window hidden, and does not wait for it. The command
// line is the system's own text ("arp -d 10.0.0.7"), with no shell between.
bool StartHiddenCommand(const wchar_t* program, const std::string& commandLine)
{
    const std::wstring folder = SystemFolder();
    if (folder.empty()) return false;
    const std::wstring path = folder + L"\\" + program;
    std::wstring line = Widened(commandLine);
    if (line.empty()) return false;
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    // A console command started from tessel-cli would otherwise write into
    // its console; with no window of its own its output goes nowhere.
    if (!::CreateProcessW(path.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &process))
        return false;
    // Nobody waits for the command; closing the handles lets the system
    // forget it when it ends.
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

class WindowsCommands final : public SystemCommands {
public:
    // The commands are not waited for, so the system tells only whether
    // they could be started; one that could not changes nothing.
    bool DeleteNeighbour(const std::string& address) override
    {
        return StartHiddenCommand(L"arp.exe", "arp -d " + address);
    }

    bool SetStaticNeighbour(const std::string& address, const std::string& serial,
                            const std::string& hostAddress) override
    {
        // The serial goes in as the list shows it ("0A-1B-2C-01-02-03"),
        // which is the form arp takes; the third argument names the
        // interface by its address.
        return StartHiddenCommand(L"arp.exe", "arp -s " + address + " " + serial + " " + hostAddress);
    }

    void PingOnce(const std::string& address) override
    {
        StartHiddenCommand(L"ping.exe", "ping -n 1 -w 1000 " + address);
    }

    // Windows' ping sends to a directed broadcast address as to any other.
    void PingBroadcast(const std::string& address) override { PingOnce(address); }
};

}  // namespace

SystemCommands& HiddenCommands()
{
    static WindowsCommands commands;
    return commands;
}

}  // namespace tessel
