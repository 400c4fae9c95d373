// What the tool asks of the operating system beyond file streams: the arguments, opening a file
// by its name, the standard descriptors, whether standard output is a terminal, what kind of
// file a stream reads, and whether a name refers to an open file.
//
// Names: on Windows the tool carries every name in UTF-8, taken from the wide command line or the
// console, and opens files through the wide form, so that a name in any script opens the file
// it names and never a look-alike of the ANSI code page. Elsewhere names are the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // FILE
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The arguments after the program name.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// The form of a full Windows path (as GetFullPathNameW gives it) that opens beyond the classic
// limit of 260 characters: "\\?\" in front of a drive path, "\\?\UNC\" in place of the
// "\\" of a UNC path; one already in such a form ("\\?\", "\\.\") stays as it is. Windows
// opens a name whose full path reaches that limit through this form.
std::wstring longPathForm(std::wstring_view fullPath);

// Opens the file a name names, with an fopen mode.
std::FILE* openFile(const std::string& name, const char* mode);

// Creates or empties the output file a name names, for writing with an fopen mode ("wb" or
// "wt"), as openFile does, but only where no other run writes it: a regular file is locked for
// writing before it is emptied (an advisory lock; on Windows a share mode that refuses a second
// writer), and one that another run holds is not opened (nullptr, errno EBUSY). Devices, FIFOs
// and pipes are not locked, and where the file system cannot lock the file is opened all the
// same.
//
// With `emptyLater` a regular file that holds bytes is left to be emptied later, on POSIX:
// emptying it waits for its old bytes still on their way to the disk (tens of milliseconds
// where a run has just written the file), which a thread of its own can do while the run reads
// (emptyOutputMeanwhile). Nothing is written to the file before it is empty: every write, flush
// and close waits for that first (outputEmptied).
std::FILE* openOutputFile(const std::string& name, const char* mode, bool emptyLater = false);

// Empties the output file left to be emptied on a thread of its own, where one can be had.
void emptyOutputMeanwhile();

// Empties the output file left to be emptied, or waits until its thread has: false (errno set)
// where that failed, and then nothing may be written to it. True at once where none is left.
bool outputEmptied();

// A seam for tests: the emptying of an output file starts so many milliseconds late.
void delayOutputEmptying(unsigned milliseconds);

// A name that came as bytes (an answer through a pipe or a file): on Windows UTF-8 where the
// bytes are valid UTF-8, else text of the console's input code page where the process has a
// console (as cmd's echo writes them), else of the ANSI code page; elsewhere the bytes as they
// are.
std::string nameFromBytes(std::string bytes);

// Makes standard input deliver its bytes as they are: on Windows not in text mode, which would
// turn a CR LF inside UTF-16 text into LF and end the input at a 0x1A byte in it. Call it before
// standard input is read; does nothing elsewhere.
void readStandardInputAsBytes();

// One line typed at the console, in UTF-8 and without its line end, where standard input is a
// console that hands over its characters as such (Windows); false if the input ended first.
// Nothing where standard input is not such a console: its bytes are read as a stream.
std::optional<bool> readConsoleLine(std::string& line);

// Writes text with names in it on standard output where it needs more than plain bytes: on a
// Windows console as the characters themselves, and to a Windows standard output elsewhere in
// the ANSI code page where it holds them all (the bytes the tool always wrote), else in UTF-8.
// False where the bytes are to be written as they are.
bool writeTextOfNames(std::string_view text);

// Opens the null device on each of the standard descriptors 0, 1 and 2 that is closed (for
// reading on 0, for writing on 1 and 2), so that no file the run opens later takes the place of
// standard input or output: a closed standard input then reads as ended, a closed standard
// output swallows what is printed. Call it before any file is opened. Does nothing on Windows,
// where a file never takes a standard stream's place.
void openClosedStandardDescriptors();

// Makes a write into a pipe whose reader has gone (SIGPIPE), and one past the file size limit of
// `ulimit -f` (SIGXFSZ), fail like any other write (EPIPE, EFBIG), instead of ending the process
// without a word. Does nothing on Windows, where such writes always fail.
void ignoreWriteSignals();

// True when standard input reads the same file, pipe or FIFO as the open stream, however each
// was opened (as /dev/stdin, by another name, or redirected).
bool standardInputReads(std::FILE* file);

// True when standard output is a terminal, where every message and dot is shown at once.
// Decided once, on the first call.
bool stdoutIsTerminal();

// The size of the regular file the open stream reads, in bytes; nothing for any other file.
std::optional<std::uint64_t> regularFileSize(std::FILE* file);

// True when the open stream reads a regular file, which can be read again from its start. A
// pipe, a FIFO, a terminal or a device cannot be relied on to go back: what was read from it
// once is gone from it.
inline bool isRegularFile(std::FILE* file) { return regularFileSize(file).has_value(); }

// fwrite without taking the stream's lock, for a stream that one thread at a time writes: the
// same bytes through the same buffer, without the cost of the lock on each of a million rows.
inline std::size_t writeUnlocked(const void* bytes, std::size_t size, std::size_t n,
                                 std::FILE* file) {
#if defined(__GLIBC__)
  return ::fwrite_unlocked(bytes, size, n, file);
#else  // MinGW's msvcrt.dll has no _fwrite_nolock
  return std::fwrite(bytes, size, n, file);
#endif
}

// Whether reading a file in text mode ends at its first Ctrl-Z byte, as it does on Windows.
#ifdef _WIN32
constexpr bool textModeEndsAtCtrlZ = true;
#else
constexpr bool textModeEndsAtCtrlZ = false;
#endif

// How many processors this process may run on (its affinity), at least 1, and on Linux no more
// than the CPU time its control groups allow (cpuQuotaProcessors): a container limited to two
// processors' time on a machine of 64 runs best with two threads, where 64 would take their
// memory, fault it in and wait for each other in turns of the quota.
unsigned usableProcessors();

// The processors' worth of CPU time that the control groups along the process's own allow, the
// smallest of them, rounded up: cgroup v2's cpu.max, v1's cpu.cfs_quota_us over
// cpu.cfs_period_us. `root` is where the groups are mounted (/sys/fs/cgroup), `selfGroups` the
// text of /proc/self/cgroup. A group's path that its mount does not show (a container that sees
// the host's path) is looked for up to the mount's own group. Nothing where no limit is set.
std::optional<unsigned> cpuQuotaProcessors(const std::string& root, std::string_view selfGroups);

// The CPU time the calling thread has used, in nanoseconds.
std::uint64_t threadCpuNanoseconds();

// What a read of bytes gave: how many, and whether it stopped at a failure (a bad sector, a
// network file system timing out, a device pulled) rather than at the end of the file, or, where
// the reader asked not to wait, found nothing come yet (dry).
struct BytesRead {
  std::size_t count = 0;
  bool failed = false;
  bool dry = false;
};

// Reads up to n bytes from the stream with one fread: fewer only at the end of the file or
// where reading failed.
BytesRead readStream(std::FILE* file, char* bytes, std::size_t n);

// Reads what the stream's file holds for it now, up to n bytes, with one read of its descriptor,
// which waits only while nothing has come: for a pipe, a FIFO or a terminal, whose writer may
// send the next bytes late or never. It bypasses the stream's buffer, so use it only on a stream
// whose buffer was never filled. No byte read is at the end of the input or at a failure.
BytesRead readAvailable(std::FILE* file, char* bytes, std::size_t n);

// True when a read of the stream's file would wait now: a pipe, a FIFO or a terminal that holds
// nothing yet while its writer is still there. False for every other file, and where it cannot
// be told.
bool streamIsDry(std::FILE* file);

// A file read by position, side by side on several threads, without moving the position of the
// stream it was opened from: on POSIX the stream's descriptor (pread), on Windows a handle of
// its own to the same file, since a positional ReadFile moves the file pointer of its handle.
struct PositionalFile {
#ifdef _WIN32
  void* handle = nullptr;
#else
  int descriptor = -1;
#endif
};

// Opens the stream's file for positional reads; false where that cannot be had.
bool openPositional(std::FILE* file, PositionalFile& positional);
void closePositional(PositionalFile& positional);

// Reads up to n bytes of the file from byte `offset` on: fewer only at the end of the file or
// where reading failed.
BytesRead readAt(const PositionalFile& file, std::uint64_t offset, char* bytes, std::size_t n);

// The offset in the file of byte `textOffset` of what a stream in text mode reads from it: the
// same offset, except on Windows, where text mode drops the CR of each CR LF and ends at the
// first Ctrl-Z. Nothing where the text ends before that byte or the file cannot be read.
std::optional<std::uint64_t> fileOffsetOfText(const PositionalFile& file, std::uint64_t textOffset);

// A seam for tests of failing reads: from the call on, every read through readStream and readAt
// fails at byte `offset` of its file, as a bad sector there would: the bytes before it are
// read, and no byte from it on.
void failReadsAt(std::uint64_t offset);

// True when `name` names an existing file that is the open stream's file, however reached:
// another spelling of the path, a symbolic or a hard link, and on Windows a short name, a case
// variant or a trailing dot or blank. Decided from the files themselves, never from the names.
bool namesOpenFile(const std::string& name, std::FILE* file);
