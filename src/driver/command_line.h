// The command line: argument count, usage text and the output encoding option.
#pragma once

#include <string_view>

#include "grid/grid.h"

// With fewer than three arguments (after the program name), prints the usage lines and ends
// with status 1.
void checkArgumentCount(std::size_t arguments);

// The output encoding from the option text (the fourth argument, or empty): "-f:" anywhere
// selects the option, and the first character after the first ':' decides: 's' single,
// 'd' double, anything else text.
GridEncoding outputEncodingFromOption(std::string_view option);
