// Opening a file for writing that no other process may open meanwhile, as
// the support logfile needs: a second running copy must neither write into
// nor empty the file the first one holds.
#pragma once

#include <cstdio>
#include <string>

namespace tessel {

// Replace: a run's file starts empty. Append: what is there stays and every
// write lands at the end, wherever another program left the file's end (a
// copy-and-truncate by a log rotation leaves no gap of NUL bytes).
enum class WriteMode { Replace, Append };

// Creates the file if missing, takes the exclusive lock, and only then
// empties it (Replace). Returns nullptr when the file cannot be opened or
// another holder has it; the file is then left untouched. Close with
// std::fclose.
std::FILE* OpenExclusiveForWriting(const std::string& path, WriteMode mode = WriteMode::Replace);

// True while `path` names the very file `file` has open: false once the
// file was renamed or removed and the name is free or names another file.
bool PathNamesFile(const std::string& path, std::FILE* file);

}  // namespace tessel
