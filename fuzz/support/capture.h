// For fuzz targets: the run-ending routine throws instead of exiting, so a target can run the
// readers in-process over many inputs and check the status and message each one ends with.
#pragma once

#include <string>

struct RunEnded {
  int status;
  std::string message;
};

// Everything printed through say() since the last clearSaid().
const std::string& said();
void clearSaid();
