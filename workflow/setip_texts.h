// The fixed texts of the Set-IP command: its message boxes (number, buttons,
// icon, help topic, lines) and the progress windows' stage texts. The
// window's string table and the terminal front end both show them from here.
#pragma once

namespace tessel {

enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxIcon { Warning, Error, Information, Question };
enum class BoxAnswer { Ok, Cancel, Yes, No };

// A help topic of -1 leaves the current one unchanged while the box shows.
inline constexpr int kHelpUnchanged = -1;
inline constexpr int kHelpAtRest = 1;

struct BoxText {
    int id;
    BoxButtons buttons;
    BoxIcon icon;
    int help;
    bool cancelIsDefault;
    const char* text;  // lines joined by a single line feed
};

// The box with that number; nullptr for a number the command does not use.
const BoxText* FindBox(int id);

// Stage texts of the progress windows (string numbers 126 to 129 and 143),
// the "Validating..." notice, and the first text of the stage window.
inline constexpr int kTextWaiting = 126;
inline constexpr int kTextSetting = 127;
inline constexpr int kTextVerifying = 128;
inline constexpr int kTextSaving = 129;
inline constexpr int kTextRetrying = 143;
const char* StageText(int id);
extern const char* const kValidatingText;
extern const char* const kSettingTitle;
extern const char* const kSettingInitialText;

}  // namespace tessel
