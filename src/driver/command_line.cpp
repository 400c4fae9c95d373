#include "driver/command_line.h"

#include "platform/console.h"

void checkArgumentCount(int argc) {
  if (argc >= 4) return;
  fail(1,
       "Cellprod: multiplies grid_1 and grid_2 on a cell by cell basis\n"
       "usage : cellprod <grid_1> <grid_2> <outgrid(1*2)> [-f:t|s|d]\n"
       "-f:t|s|d output format. t=text (with double precision, this is default), s=single "
       "precision, d=double precision\n");
}

GridEncoding outputEncodingFromOption(std::string_view option) {
  if (option.find("-f:") == std::string_view::npos) return GridEncoding::text;
  std::string_view rest = option.substr(option.find(':') + 1);
  if (rest.starts_with('s')) return GridEncoding::single;
  if (rest.starts_with('d')) return GridEncoding::double_precision;
  return GridEncoding::text;
}
