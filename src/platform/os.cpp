#include "platform/os.h"

#include <sys/stat.h>  // fstat, stat

#include <algorithm>  // max
#include <thread>     // hardware_concurrency

#ifdef _WIN32
#include <io.h>  // _isatty, _fileno, _get_osfhandle
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX  // windows.h would define min and max as macros
#endif
#include <windows.h>  // GetFileInformationByHandleEx

#include <cstring>       // memcmp
#include <filesystem>    // equivalent
#include <system_error>  // error_code
#define CELLPROD_ISATTY _isatty
#else
#include <fcntl.h>   // open, fcntl
#include <sched.h>   // sched_getaffinity
#include <unistd.h>  // isatty, dup2, close

#include <cerrno>
#include <csignal>  // signal, SIGPIPE
#define CELLPROD_ISATTY isatty
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

void ignoreBrokenPipes() {
#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool standardInputReads(std::FILE* file) {
#ifdef _WIN32
  // Files by their volume and 128-bit file id; a pipe has none, and a grid opened by name is
  // never the pipe of standard input.
  FILE_ID_INFO input, other;
  const auto identify = [](int fd, FILE_ID_INFO& id) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    return ::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id) != 0;
  };
  return identify(0, input) && identify(::_fileno(file), other) &&
         input.VolumeSerialNumber == other.VolumeSerialNumber &&
         std::memcmp(&input.FileId, &other.FileId, sizeof input.FileId) == 0;
#else
  struct stat input, other;
  return ::fstat(0, &input) == 0 && ::fstat(::fileno(file), &other) == 0 &&
         input.st_dev == other.st_dev && input.st_ino == other.st_ino;
#endif
}

bool stdoutIsTerminal() {
  static const bool terminal = CELLPROD_ISATTY(1) != 0;
  return terminal;
}

bool isRegularFile(std::FILE* file) {
#ifdef _WIN32
  struct _stat64 status;
  return _fstat64(_fileno(file), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
#else
  struct stat status;
  return ::fstat(::fileno(file), &status) == 0 && S_ISREG(status.st_mode);
#endif
}

unsigned usableProcessors() {
#ifdef __linux__
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

bool sameExistingFile(const std::string& a, const std::string& b) {
#ifdef _WIN32
  std::error_code ec;
  bool same = std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ec);
  return !ec && same;
#else
  // The file identities themselves: std::filesystem::equivalent refuses to compare two FIFOs
  // or other special files, and an input may well be a FIFO.
  struct stat first, second;
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
#endif
}
