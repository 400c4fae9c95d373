#include "platform/console.h"

#include <cstdio>
#include <cstdlib>  // exit

#include "platform/os.h"

void say(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (stdoutIsTerminal()) std::fflush(stdout);
}

void fail(int status, std::string_view message) {
  say(message);
  std::fflush(stdout);
  std::exit(status);
}
