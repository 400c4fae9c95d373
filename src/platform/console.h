// The console and the process exit: every message goes to standard output, and a run that
// fails ends at once through fail(), with its status.
#pragma once

#include <string_view>

// Prints a message or progress text on standard output; shown at once on a terminal.
void say(std::string_view text);

// The one way a run ends early: the message goes to standard output, then the process exits
// with the status, and the runtime's exit processing flushes and closes the open files.
[[noreturn]] void fail(int status, std::string_view message);
