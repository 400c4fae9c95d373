// Replaces the tool's own fail/say for the fuzz targets.
#include "support/capture.h"

#include "platform/console.h"

namespace {
std::string log;
}

const std::string& said() { return log; }
void clearSaid() { log.clear(); }

void say(std::string_view text) { log.append(text); }
void showProgressNow() {}  // what is said is kept whole anyway

namespace {
thread_local bool throwsFailures = false;
}

bool failuresAreValues(bool on) {
  const bool before = throwsFailures;
  throwsFailures = on;
  return before;
}

void fail(int status, std::string_view message) {
  if (throwsFailures) throw ThrownFailure{{status, std::string(message)}};
  throw RunEnded{status, std::string(message)};
}
