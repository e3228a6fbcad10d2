// A stand-in for the system's arp.exe and ping.exe in the Wine prefix of
// an end-to-end run: it appends its own command line (one line) to the file
// that TESSEL_COMMAND_RECORD names and ends, so that the scenario sees
// exactly which commands the program started, with which texts.
#include <windows.h>

#include <string>

int wmain()
{
    wchar_t record[MAX_PATH] = {};
    const DWORD size = ::GetEnvironmentVariableW(L"TESSEL_COMMAND_RECORD", record, MAX_PATH);
    if (size == 0 || size >= MAX_PATH) return 2;
    const wchar_t* line = ::GetCommandLineW();
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return 2;
    std::string text(static_cast<std::size_t>(bytes - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), bytes, nullptr, nullptr);
    text += "\r\n";
    // Several commands run at once: each line goes out in one appending write.
    const HANDLE file = ::CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok ? 0 : 2;
}
