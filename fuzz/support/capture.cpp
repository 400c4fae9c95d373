// Replaces the tool's own fail/say for the fuzz targets.
#include "support/capture.h"

#include "platform/console.h"

namespace {
std::string log;
}

const std::string& said() { return log; }
void clearSaid() { log.clear(); }

void say(std::string_view text) { log.append(text); }

void fail(int status, std::string_view message) {
  throw RunEnded{status, std::string(message)};
}
