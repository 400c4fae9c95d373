#include "platform/os.h"

#include <filesystem>    // equivalent
#include <system_error>  // error_code

#ifdef _WIN32
#include <io.h>  // _isatty
#define CELLPROD_ISATTY _isatty
#else
#include <unistd.h>  // isatty
#define CELLPROD_ISATTY isatty
#endif

bool stdoutIsTerminal() {
  static const bool terminal = CELLPROD_ISATTY(1) != 0;
  return terminal;
}

bool sameExistingFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  bool same = std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ec);
  return !ec && same;
}
