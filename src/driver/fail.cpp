#include "driver/fail.h"

#include <cstdio>
#include <cstdlib>  // exit

#include "driver/platform.h"

void say(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (stdoutIsTerminal()) std::fflush(stdout);
}

void fail(int status, std::string_view message) {
  say(message);
  std::fflush(stdout);
  std::exit(status);
}
