#include "driver/command_line.h"

#include "grid/messages.h"

void checkArgumentCount(std::size_t arguments) {
  if (arguments >= 3) return;
  fail(usageFailure());
}

GridEncoding outputEncodingFromOption(std::string_view option) {
  if (option.find("-f:") == std::string_view::npos) return GridEncoding::text;
  std::string_view rest = option.substr(option.find(':') + 1);
  if (rest.starts_with('s')) return GridEncoding::single;
  if (rest.starts_with('d')) return GridEncoding::double_precision;
  return GridEncoding::text;
}
