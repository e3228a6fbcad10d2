// Opening a file for writing that no other process may open meanwhile, as
// the support logfile needs: a second running copy must neither write into
// nor empty the file the first one holds.
#pragma once

#include <cstdio>
#include <string>

namespace tessel {

// Creates the file if missing, takes the exclusive lock, and only then
// empties it. Returns nullptr when the file cannot be opened or another
// holder has it; the file is then left untouched. Close with std::fclose.
std::FILE* OpenExclusiveForWriting(const std::string& path);

}  // namespace tessel
