// What the tool asks of the operating system beyond file streams: the standard descriptors,
// whether standard output is a terminal, what kind of file a stream reads, and whether two
// names refer to one file.
#pragma once

#include <cstdio>  // FILE
#include <string>

// Opens the null device on each of the standard descriptors 0, 1 and 2 that is closed (for
// reading on 0, for writing on 1 and 2), so that no file the run opens later takes the place of
// standard input or output: a closed standard input then reads as ended, a closed standard
// output swallows what is printed. Call it before any file is opened. Does nothing on Windows,
// where a file never takes a standard stream's place.
void openClosedStandardDescriptors();

// Makes a write into a pipe whose reader has gone fail like any other write (EPIPE), instead of
// ending the process without a word (SIGPIPE). Does nothing on Windows, where it always fails.
void ignoreBrokenPipes();

// True when standard input reads the same file, pipe or FIFO as the open stream, however each
// was opened (as /dev/stdin, by another name, or redirected).
bool standardInputReads(std::FILE* file);

// True when standard output is a terminal, where every message and dot is shown at once.
// Decided once, on the first call.
bool stdoutIsTerminal();

// True when the open stream reads a regular file, which can be read again from its start. A
// pipe, a FIFO, a terminal or a device cannot be relied on to go back: what was read from it
// once is gone from it.
bool isRegularFile(std::FILE* file);

// Whether reading a file in text mode ends at its first Ctrl-Z byte, as it does on Windows.
#ifdef _WIN32
constexpr bool textModeEndsAtCtrlZ = true;
#else
constexpr bool textModeEndsAtCtrlZ = false;
#endif

// How many processors this process may run on (its affinity), at least 1.
unsigned usableProcessors();

// True when both names refer to one existing file (the same file identity, however reached:
// another spelling of the path, a symbolic link or a hard link).
bool sameExistingFile(const std::string& a, const std::string& b);
