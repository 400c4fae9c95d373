#include "platform/os.h"

#include <sys/stat.h>  // fstat, stat

#include <algorithm>  // all_of, max, min
#include <atomic>
#include <charconv>  // from_chars
#include <chrono>
#include <climits>  // UINT_MAX
#include <mutex>
#include <thread>   // hardware_concurrency, this thread's sleep
#include <utility>  // pair

#ifdef _WIN32
#include <io.h>  // _isatty, _fileno, _get_osfhandle, _setmode, _read
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX  // windows.h would define min and max as macros
#endif
// clang-format off
#include <windows.h>   // GetFileInformationByHandleEx, code page conversions, the console
#include <shellapi.h>  // CommandLineToArgvW, after windows.h, which it needs
// clang-format on

#include <fcntl.h>  // _O_BINARY
#include <share.h>  // _SH_DENYWR

#include <cerrno>
#include <cstring>  // memcmp
#define CELLPROD_ISATTY _isatty
#define CELLPROD_FILENO _fileno
#else
#include <fcntl.h>     // open, fcntl
#include <poll.h>      // poll
#include <sched.h>     // sched_getaffinity
#include <sys/file.h>  // flock
#include <unistd.h>    // isatty, dup2, close, ftruncate, read

#include <cerrno>
#include <csignal>  // signal, SIGPIPE, SIGXFSZ
#include <ctime>    // clock_gettime

#include "platform/threads.h"
#define CELLPROD_ISATTY isatty
#define CELLPROD_FILENO fileno
#endif

std::wstring longPathForm(std::wstring_view fullPath) {
  if (fullPath.substr(0, 4) == L"\\\\?\\" || fullPath.substr(0, 4) == L"\\\\.\\")
    return std::wstring(fullPath);
  if (fullPath.substr(0, 2) == L"\\\\") return L"\\\\?\\UNC\\" + std::wstring(fullPath.substr(2));
  return L"\\\\?\\" + std::wstring(fullPath);
}

#ifdef _WIN32
namespace {

// Text in one code page as UTF-16; empty where it is not valid there (flags 0 replaces instead).
std::wstring wideFrom(std::string_view text, UINT codePage, DWORD flags = 0) {
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), n);
  return wide;
}

std::string utf8From(std::wstring_view wide) {
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

// The text in the ANSI code page, where it holds every character without a look-alike.
std::optional<std::string> ansiFrom(std::wstring_view wide) {
  const int size = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                      nullptr, &lossy);
  if (lossy || ::GetACP() == CP_UTF8) return std::nullopt;
  std::string text(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, text.data(), n, nullptr,
                        nullptr);
  return text;
}

// The wide name to open a file by: the name, or, where its full path reaches the classic limit
// of MAX_PATH characters, that full path in its long form, which Windows opens at any length
// even where long paths are not enabled for every program.
std::wstring widePath(const std::string& name) {
  const std::wstring wide = wideFrom(name, CP_UTF8);
  const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);  // with its null
  if (size <= MAX_PATH) return wide;
  std::wstring full(size, L'\0');
  const DWORD length = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return wide;
  full.resize(length);
  return longPathForm(full);
}

// The console behind a standard handle, if it is one.
HANDLE consoleOf(DWORD standardHandle) {
  const HANDLE handle = ::GetStdHandle(standardHandle);
  DWORD mode;
  return ::GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// A file's volume and 128-bit id, as the open handle of the descriptor gives them.
std::optional<FILE_ID_INFO> identityOf(int fd) {
  FILE_ID_INFO id;
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (!::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) return std::nullopt;
  return id;
}

bool sameIdentity(const std::optional<FILE_ID_INFO>& a, const std::optional<FILE_ID_INFO>& b) {
  return a && b && a->VolumeSerialNumber == b->VolumeSerialNumber &&
         std::memcmp(&a->FileId, &b->FileId, sizeof a->FileId) == 0;
}

}  // namespace

std::vector<std::string> commandLineArguments(int, char**) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; wide != nullptr && i < count; ++i) arguments.push_back(utf8From(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

std::FILE* openFile(const std::string& name, const char* mode) {
  return ::_wfopen(widePath(name).c_str(), wideFrom(mode, CP_UTF8).c_str());
}

std::FILE* openOutputFile(const std::string& name, const char* mode, bool) {
  // A second writer, or a run that already writes the file, makes the open fail before the file
  // is emptied (a sharing violation); readers are let in.
  std::FILE* file = ::_wfsopen(widePath(name).c_str(), wideFrom(mode, CP_UTF8).c_str(), _SH_DENYWR);
  if (file == nullptr && ::GetLastError() == ERROR_SHARING_VIOLATION) errno = EBUSY;
  return file;
}

// The C library empties the file as it opens it.
void emptyOutputMeanwhile() {}
bool outputEmptied() { return true; }

void delayOutputEmptying(unsigned) {}

std::string nameFromBytes(std::string bytes) {
  if (!wideFrom(bytes, CP_UTF8, MB_ERR_INVALID_CHARS).empty()) return bytes;
  const UINT console = ::GetConsoleCP();  // 0 where the process has no console
  return utf8From(wideFrom(bytes, console != 0 ? console : CP_ACP));
}

void readStandardInputAsBytes() { ::_setmode(::_fileno(stdin), _O_BINARY); }

std::optional<bool> readConsoleLine(std::string& line) {
  const HANDLE console = consoleOf(STD_INPUT_HANDLE);
  if (console == nullptr) return std::nullopt;
  std::wstring wide;
  wchar_t c = 0;
  DWORD got = 0;
  while (::ReadConsoleW(console, &c, 1, &got, nullptr) && got == 1 && c != L'\n') wide += c;
  if (!wide.empty() && wide.back() == L'\r') wide.pop_back();
  line = utf8From(wide);
  // The input has ended where nothing came, or where a line starts with Ctrl-Z, as it does for
  // the C library.
  const bool ended = wide.empty() ? got == 0 : wide.front() == L'\x1a';
  return !ended;
}

bool writeTextOfNames(std::string_view text) {
  const auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
  if (std::all_of(text.begin(), text.end(), ascii)) return false;
  const std::wstring wide = wideFrom(text, CP_UTF8);
  if (const HANDLE console = consoleOf(STD_OUTPUT_HANDLE)) {
    std::wstring lines;  // with the line ends the C library's text mode writes
    for (wchar_t c : wide) {
      if (c == L'\n') lines += L'\r';
      lines += c;
    }
    std::fflush(stdout);
    DWORD written;
    ::WriteConsoleW(console, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    return true;
  }
  const std::optional<std::string> ansi = ansiFrom(wide);
  if (!ansi) return false;
  std::fwrite(ansi->data(), 1, ansi->size(), stdout);
  return true;
}

bool namesOpenFile(const std::string& name, std::FILE* file) {
  std::FILE* named = openFile(name, "rb");
  if (named == nullptr) return false;  // no file of that name, so none of the inputs
  const bool same = sameIdentity(identityOf(::_fileno(named)), identityOf(::_fileno(file)));
  std::fclose(named);
  return same;
}
#else
std::vector<std::string> commandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::FILE* openFile(const std::string& name, const char* mode) {
  return std::fopen(name.c_str(), mode);
}

namespace {

// An output file left to be emptied later, and the thread that empties it.
struct Emptying {
  std::mutex mutex;
  // The file's descriptor while it is not yet emptied, else -1: each write's quick check.
  std::atomic<int> fd{-1};
  std::thread thread;
  int error = 0;  // errno of a truncation that failed
  ~Emptying() {
    if (thread.joinable()) thread.join();  // a run has waited for it; none is left running
  }
};
Emptying emptying;
std::atomic<unsigned> emptyingDelay{0};

void emptyFile() {
  if (const unsigned delay = emptyingDelay.load())
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  emptying.error = ::ftruncate(emptying.fd, 0) == 0 ? 0 : errno;
}

}  // namespace

void emptyOutputMeanwhile() {
  std::lock_guard held(emptying.mutex);
  if (emptying.fd >= 0) startThread(emptying.thread, emptyFile);
}

bool outputEmptied() {
  if (emptying.fd.load(std::memory_order_acquire) >= 0) {
    std::lock_guard held(emptying.mutex);
    if (emptying.thread.joinable()) emptying.thread.join();
    else if (emptying.fd >= 0) emptyFile();
    emptying.fd.store(-1, std::memory_order_release);
  }
  if (emptying.error == 0) return true;
  errno = emptying.error;
  return false;
}

void delayOutputEmptying(unsigned milliseconds) { emptyingDelay.store(milliseconds); }

std::FILE* openOutputFile(const std::string& name, const char* mode, bool emptyLater) {
  // Opened without emptying it, so that a file another run writes is left as it is.
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat status;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    // A lock of the open file itself (flock), held until the process ends; a file system that
    // cannot lock (ENOLCK, EINVAL, ENOTSUP) lets the run go on as without locks.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      ::close(fd);
      errno = EBUSY;
      return nullptr;
    }
    if (emptyLater && status.st_size > 0) {
      std::lock_guard held(emptying.mutex);
      emptying.fd.store(fd, std::memory_order_release);
    } else if (::ftruncate(fd, 0) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return nullptr;
    }
  }
  std::FILE* file = ::fdopen(fd, mode);
  if (file == nullptr) {
    const int error = errno;
    outputEmptied();  // before the descriptor goes
    ::close(fd);
    errno = error;
  }
  return file;
}

std::string nameFromBytes(std::string bytes) { return bytes; }

void readStandardInputAsBytes() {}

std::optional<bool> readConsoleLine(std::string&) { return std::nullopt; }

bool writeTextOfNames(std::string_view) { return false; }

namespace {

// A file's device and inode.
using Identity = std::pair<dev_t, ino_t>;

std::optional<Identity> identityOf(int fd) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return std::nullopt;
  return Identity{status.st_dev, status.st_ino};
}

bool sameIdentity(const std::optional<Identity>& a, const std::optional<Identity>& b) {
  return a && b && *a == *b;
}

}  // namespace

bool namesOpenFile(const std::string& name, std::FILE* file) {
  // The name is looked up without being opened, since opening a FIFO would wait for a writer.
  struct stat named;
  return ::stat(name.c_str(), &named) == 0 &&
         sameIdentity(Identity{named.st_dev, named.st_ino}, identityOf(::fileno(file)));
}
#endif

void openClosedStandardDescriptors() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is taken, which is fd itself when the ones below it are open.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
#endif
}

void ignoreWriteSignals() {
#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

bool standardInputReads(std::FILE* file) {
  // On Windows a pipe has no file identity; a grid opened by name is never the pipe of standard
  // input there.
  return sameIdentity(identityOf(0), identityOf(CELLPROD_FILENO(file)));
}

bool stdoutIsTerminal() {
  static const bool terminal = CELLPROD_ISATTY(1) != 0;
  return terminal;
}

std::optional<std::uint64_t> regularFileSize(std::FILE* file) {
#ifdef _WIN32
  struct _stat64 status;
  if (_fstat64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG)
    return std::nullopt;
#else
  struct stat status;
  if (::fstat(::fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
#endif
  return static_cast<std::uint64_t>(status.st_size);
}

namespace {

// The first line of a small text file, where it can be read.
std::optional<std::string> firstLineOf(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return std::nullopt;
  char line[128];
  const bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  return read ? std::optional<std::string>(line) : std::nullopt;
}

// The positive whole number that the text starts with; nothing for "max", "-1" or no text.
std::optional<std::uint64_t> leadingCount(std::optional<std::string_view> text) {
  std::uint64_t n = 0;
  if (!text || std::from_chars(text->data(), text->data() + text->size(), n).ec != std::errc() ||
      n == 0)
    return std::nullopt;
  return n;
}

// Processors for `quota` of CPU time in each `period`, rounded up.
std::optional<unsigned> processorsFor(std::optional<std::uint64_t> quota,
                                      std::optional<std::uint64_t> period) {
  if (!quota || !period) return std::nullopt;
  return static_cast<unsigned>(std::min<std::uint64_t>((*quota - 1) / *period + 1, UINT_MAX));
}

std::optional<unsigned> cpuMaxLimit(const std::string& group) {  // v2: "QUOTA PERIOD" or "max ..."
  const std::optional<std::string> line = firstLineOf(group + "/cpu.max");
  const std::size_t blank = line ? line->find(' ') : std::string::npos;
  if (blank == std::string::npos) return std::nullopt;
  return processorsFor(leadingCount(std::string_view(*line).substr(0, blank)),
                       leadingCount(std::string_view(*line).substr(blank + 1)));
}

std::optional<unsigned> cfsQuotaLimit(const std::string& group) {  // v1: quota -1 where none
  const std::optional<std::string> quota = firstLineOf(group + "/cpu.cfs_quota_us");
  const std::optional<std::string> period = firstLineOf(group + "/cpu.cfs_period_us");
  return processorsFor(leadingCount(quota), leadingCount(period));
}

}  // namespace

std::optional<unsigned> cpuQuotaProcessors(const std::string& root, std::string_view selfGroups) {
  std::optional<unsigned> smallest;
  // The limits of the group at `path` below `mount` and of each group above it.
  const auto alongPath = [&](const std::string& mount, std::string_view path, auto limitOf) {
    std::string group = mount + std::string(path);
    for (;;) {
      const std::optional<unsigned> limit = limitOf(group);
      if (limit && (!smallest || *limit < *smallest)) smallest = limit;
      const std::size_t slash = group.rfind('/');
      if (group.size() <= mount.size() || slash < mount.size()) return;
      group.resize(slash);
    }
  };
  // Lines of "ID:CONTROLLERS:PATH"; cgroup v2's is "0::PATH".
  while (!selfGroups.empty()) {
    const std::size_t end = std::min(selfGroups.find('\n'), selfGroups.size());
    const std::string_view line = selfGroups.substr(0, end);
    selfGroups.remove_prefix(std::min(end + 1, selfGroups.size()));
    const std::size_t first = line.find(':');
    const std::size_t second = first == line.npos ? line.npos : line.find(':', first + 1);
    if (second == line.npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string_view path = line.substr(second + 1) == "/" ? "" : line.substr(second + 1);
    if (line.substr(0, first) == "0" && controllers.empty()) alongPath(root, path, cpuMaxLimit);
    bool cpu = false;  // among the controllers, separated by commas
    for (std::string_view rest = controllers; !cpu && !rest.empty();) {
      const std::size_t comma = std::min(rest.find(','), rest.size());
      cpu = rest.substr(0, comma) == "cpu";
      rest.remove_prefix(std::min(comma + 1, rest.size()));
    }
    if (cpu)
      for (const char* mount : {"/cpu", "/cpu,cpuacct"})
        alongPath(root + mount, path, cfsQuotaLimit);
  }
  return smallest;
}

unsigned usableProcessors() {
#ifdef __linux__
  static const unsigned usable = [] {
    cpu_set_t set;
    unsigned n = ::sched_getaffinity(0, sizeof set, &set) == 0
                     ? static_cast<unsigned>(std::max(1, CPU_COUNT(&set)))
                     : std::max(1u, std::thread::hardware_concurrency());
    char groups[4096];
    if (std::FILE* file = std::fopen("/proc/self/cgroup", "r")) {
      const std::string_view text(groups, std::fread(groups, 1, sizeof groups, file));
      std::fclose(file);
      if (const std::optional<unsigned> limit = cpuQuotaProcessors("/sys/fs/cgroup", text))
        n = std::min(n, std::max(*limit, 1u));
    }
    return n;
  }();
  return usable;
#elif defined(_WIN32)
  // A process started with an affinity (`start /affinity 3`) keeps to its processors. Where its
  // threads span processor groups the masks are 0, and all the processors are usable.
  static const unsigned usable = [] {
    const unsigned all = std::max(1u, std::thread::hardware_concurrency());
    DWORD_PTR own = 0, machine = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &own, &machine) || own == 0) return all;
    unsigned n = 0;
    for (; own != 0; own &= own - 1) ++n;
    return std::min(n, all);
  }();
  return usable;
#else
  return std::max(1u, std::thread::hardware_concurrency());
#endif
}

std::uint64_t threadCpuNanoseconds() {
#ifdef _WIN32
  FILETIME created, ended, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
  const auto ticks = [](FILETIME t) {
    return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
  };
  return (ticks(kernel) + ticks(user)) * 100;  // in units of 100 ns
#else
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u + static_cast<std::uint64_t>(t.tv_nsec);
#endif
}

namespace {

// Where failReadsAt() has put a failure, if anywhere.
std::atomic<std::uint64_t> failingByte{UINT64_MAX};

// Cuts a read of n bytes from `offset` at the failing byte; true where it reaches it.
bool cutAtFailingByte(std::uint64_t offset, std::size_t& n) {
  const std::uint64_t failing = failingByte.load(std::memory_order_relaxed);
  if (failing == UINT64_MAX || offset + n <= failing) return false;
  n = offset >= failing ? 0 : static_cast<std::size_t>(failing - offset);
  return true;
}

}  // namespace

void failReadsAt(std::uint64_t offset) { failingByte.store(offset); }

BytesRead readStream(std::FILE* file, char* bytes, std::size_t n) {
  bool cut = false;
  if (failingByte.load(std::memory_order_relaxed) != UINT64_MAX) {
#ifdef _WIN32
    const long long at = ::_ftelli64(file);
#else
    const off_t at = ::ftello(file);
#endif
    if (at >= 0) cut = cutAtFailingByte(static_cast<std::uint64_t>(at), n);
  }
  const std::size_t got = n == 0 ? 0 : std::fread(bytes, 1, n, file);
  return {got, cut || (got < n && std::ferror(file) != 0)};
}

BytesRead readAvailable(std::FILE* file, char* bytes, std::size_t n) {
  const int descriptor = CELLPROD_FILENO(file);
  for (;;) {
#ifdef _WIN32
    const int got =
        ::_read(descriptor, bytes, static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30)));
#else
    const ssize_t got = ::read(descriptor, bytes, std::min<std::size_t>(n, std::size_t{1} << 30));
#endif
    if (got >= 0) return {static_cast<std::size_t>(got), false};
    if (errno != EINTR) return {0, true};
  }
}

bool streamIsDry(std::FILE* file) {
#ifdef _WIN32
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  DWORD waiting = 0;
  // A pipe whose writer has gone fails the peek: its reads end at once.
  return ::GetFileType(handle) == FILE_TYPE_PIPE &&
         ::PeekNamedPipe(handle, nullptr, 0, nullptr, &waiting, nullptr) && waiting == 0;
#else
  pollfd ready{CELLPROD_FILENO(file), POLLIN, 0};
  return ::poll(&ready, 1, 0) == 0;  // none of POLLIN, POLLHUP or POLLERR has come
#endif
}

#ifdef _WIN32
bool openPositional(std::FILE* file, PositionalFile& positional) {
  const auto stream = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  const HANDLE own =
      ::ReOpenFile(stream, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (own == INVALID_HANDLE_VALUE) return false;
  positional.handle = own;
  return true;
}

void closePositional(PositionalFile& positional) {
  if (positional.handle != nullptr) ::CloseHandle(static_cast<HANDLE>(positional.handle));
  positional.handle = nullptr;
}

BytesRead readAt(const PositionalFile& file, std::uint64_t offset, char* bytes, std::size_t n) {
  const bool cut = cutAtFailingByte(offset, n);
  BytesRead read;
  while (read.count < n) {
    OVERLAPPED at{};
    const std::uint64_t from = offset + read.count;
    at.Offset = static_cast<DWORD>(from);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(n - read.count, DWORD{1} << 30));
    DWORD got = 0;
    if (!::ReadFile(static_cast<HANDLE>(file.handle), bytes + read.count, piece, &got, &at)) {
      read.failed = ::GetLastError() != ERROR_HANDLE_EOF;
      break;
    }
    if (got == 0) break;
    read.count += got;
  }
  read.failed = read.failed || cut;
  return read;
}
#else
bool openPositional(std::FILE* file, PositionalFile& positional) {
  positional.descriptor = ::fileno(file);
  return positional.descriptor >= 0;
}

void closePositional(PositionalFile& positional) { positional.descriptor = -1; }

BytesRead readAt(const PositionalFile& file, std::uint64_t offset, char* bytes, std::size_t n) {
  const bool cut = cutAtFailingByte(offset, n);
  BytesRead read;
  while (read.count < n) {
    const ssize_t got = ::pread(file.descriptor, bytes + read.count, n - read.count,
                                static_cast<off_t>(offset + read.count));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) read.failed = true;
    if (got <= 0) break;
    read.count += static_cast<std::size_t>(got);
  }
  read.failed = read.failed || cut;
  return read;
}
#endif

std::optional<std::uint64_t> fileOffsetOfText(const PositionalFile& file,
                                              std::uint64_t textOffset) {
#ifdef _WIN32
  std::uint64_t raw = 0, text = 0;
  char block[4096];
  for (;;) {
    if (text == textOffset) return raw;
    const BytesRead read = readAt(file, raw, block, sizeof block);
    const std::size_t n = read.count;
    if (n == 0 || read.failed) return std::nullopt;
    // The last byte of a full block waits for the byte after it, which tells a CR's fate.
    const std::size_t usable = n == sizeof block ? n - 1 : n;
    for (std::size_t i = 0; i < usable; ++i) {
      if (text == textOffset) return raw + i;
      if (block[i] == '\x1a') return std::nullopt;
      if (!(block[i] == '\r' && i + 1 < n && block[i + 1] == '\n')) ++text;
    }
    raw += usable;
  }
#else
  (void)file;
  return textOffset;
#endif
}
