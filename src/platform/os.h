// What the tool asks of the operating system beyond file streams: whether standard output is a
// terminal, and whether two names refer to one file.
#pragma once

#include <string>

// True when standard output is a terminal, where every message and dot is shown at once.
// Decided once, on the first call.
bool stdoutIsTerminal();

// True when both names refer to one existing file (the same file identity, however reached:
// another spelling of the path, a symbolic link or a hard link).
bool sameExistingFile(const std::string& a, const std::string& b);
