// The two registry values the program shares with the maker's print-system
// installer, read and written through QSettings: the native registry on
// Windows; elsewhere one INI store per root with the same key and value
// names (see docs/window.md for where they lie).
#pragma once

#include <QString>

#include "resources/installer_names.h"

namespace tessel {

enum class RegistryRoot { LocalMachine, CurrentUser };

class CRegistryAccess {
public:
    // TRUE when the value was read into `result`; FALSE with `result`
    // empty when the key or value is missing or the value does not fit the
    // 256-byte buffer (its text and NUL).
    bool ReadString(const QString& key, const char* valueName, QString* result, RegistryRoot root);
    // 0 on failure, 1 when the key was there, 3 when it had to be created.
    int WriteString(const QString& key, const char* valueName, const QString& text, RegistryRoot root);

    // Where the INI stores lie (not used on Windows). Tests point them at a
    // folder of their own; empty puts back the system's places.
    static void SetStoreFolders(const QString& localMachine, const QString& currentUser);
    static QString StorePath(RegistryRoot root);
};

}  // namespace tessel
