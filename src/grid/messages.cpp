#include "grid/messages.h"

#include <algorithm>  // copy
#include <charconv>   // to_chars

#include "decimal/format.h"
#include "platform/console.h"

namespace {

std::string joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text += part;
  return text;
}

}  // namespace

void fail(const Failure& failure) { fail(failure.status, failure.text); }

Failure usageFailure() {
  return {exit_status::refused,
          "Cellprod: multiplies grid_1 and grid_2 on a cell by cell basis\n"
          "usage : cellprod <grid_1> <grid_2> <outgrid(1*2)> [-f:t|s|d]\n"
          "-f:t|s|d output format. t=text (with double precision, this is default), s=single "
          "precision, d=double precision\n"};
}

Failure noAnswerFailure() { return {exit_status::refused, ""}; }

Failure headerReadFailure(std::string_view grid) {
  return {exit_status::refused, joined({"error reading fiel header from ", grid, "\n"})};
}

Failure parameterMismatch(int position, double grid1Value, std::string_view grid1,
                          std::string_view grid2, double grid2Value) {
  return {
      exit_status::parameterMismatch,
      joined({std::to_string(position), ". Parameter (", fixed6Text(grid1Value), ") in ", grid1,
              " stimmt nicht\n mit dem in ", grid2, " ueberein (", fixed6Text(grid2Value), ")\n"})};
}

Failure unusableSizeFailure(std::string_view grid1, double ncols, double nrows) {
  return {exit_status::unusable, joined({"unusable grid size in ", grid1, ": ncols ", g6Text(ncols),
                                         ", nrows ", g6Text(nrows), "\n"})};
}

void failNoMemory(double ncols) {
  constexpr std::string_view before = "not enough memory for rows of ", after = " columns\n";
  char text[before.size() + 12 + after.size()];
  char* p = std::copy(before.begin(), before.end(), text);
  p = std::to_chars(p, p + 12, truncateToInt32(ncols)).ptr;
  p = std::copy(after.begin(), after.end(), p);
  fail(exit_status::unusable, std::string_view(text, static_cast<std::size_t>(p - text)));
}

void failNoMemory() { fail(exit_status::unusable, "not enough memory\n"); }

std::string writeIntoText(std::string_view output) {
  return joined({"error writing into ", output, " \n"});
}

Failure writeIntoFailure(std::string_view output) {
  return {exit_status::outputNotWritten, writeIntoText(output)};
}

Failure rowReadFailure(std::string_view grid, int row, std::size_t valuesRead) {
  return {exit_status::rowNotRead,
          joined({"error reading from ", grid, " in row ", std::to_string(row), " (",
                  std::to_string(valuesRead), " values read)\n"})};
}

Failure rowWriteFailure(int row, std::string_view output) {
  return {exit_status::rowNotWritten,
          joined({"error writing row ", std::to_string(row), " in ", output, "\n"})};
}

Failure rowWriteFailure(int row, std::size_t column, std::string_view output) {
  return {exit_status::rowNotWritten, joined({"error writing row ", std::to_string(row), ", col ",
                                              std::to_string(column), " in ", output, "\n"})};
}

Failure defectFailure(std::string_view what) {
  return {exit_status::defect, joined({"internal error: ", what, "\n"})};
}

Failure cannotOpenInputFailure(std::string_view grid) {
  return {exit_status::inputNotOpened, joined({"could not open input file ", grid, "\n"})};
}

Failure unrecognisedFailure(std::string_view grid) {
  return {exit_status::inputNotOpened,
          joined({"could not recognise file format (ascii, single or double) for ", grid, "\n"})};
}

std::string cannotOpenOutputText(std::string_view output) {
  return joined({"error opening output grid ", output, " \r\n"});
}

std::string wouldOverwriteText(std::string_view output, std::string_view input) {
  return joined({"output grid ", output, " would overwrite input grid ", input, " \r\n"});
}
