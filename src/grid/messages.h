// Every text of the exit status table, with its status, and the texts of the output dialogue.
//
// These texts are a fixed contract: batch scripts read them, so they are kept letter for
// letter as they have always been, odd letters included: "fiel" in the header message, the
// German of the parameter mismatch over two lines, the blank before the line end of the
// messages about the output, and the "\r\n" of the dialogue. Never mend their spelling.
#pragma once

#include <string>
#include <string_view>

// The exit statuses, each named once for the causes that share it; scripts rely on the numbers.
namespace exit_status {
constexpr int refused = 1;            // too few arguments, no answer, a header not read
constexpr int parameterMismatch = 2;  // grid 2's parameters differ from grid 1's
constexpr int unusable = 3;           // grid 1's size, or memory that cannot be had
constexpr int outputNotWritten = 4;   // the output's header, statistics block or close
constexpr int rowNotRead = 5;         // an input row holds fewer values than ncols
constexpr int rowNotWritten = 6;      // an output row
constexpr int defect = 7;             // a check of the tool's own workings failed
constexpr int inputNotOpened = 98;    // an input cannot be opened or recognised
}  // namespace exit_status

// A way the run ends: its exit status and what is printed first.
struct Failure {
  int status;
  std::string text;
};

// Ends the run with the failure's status after printing its text.
[[noreturn]] void fail(const Failure& failure);

// Status 1: fewer than three arguments.
Failure usageFailure();

// Status 1: the output dialogue was answered with an empty line, or standard input ended.
Failure noAnswerFailure();

// Status 1: a header value cannot be read.
Failure headerReadFailure(std::string_view grid);

// Status 2: the header value at `position` (1 to 6) differs between the grids.
Failure parameterMismatch(int position, double grid1Value, std::string_view grid1,
                          std::string_view grid2, double grid2Value);

// Status 3: grid 1's dimensions cannot be processed.
Failure unusableSizeFailure(std::string_view grid1, double ncols, double nrows);

// Status 3: memory that cannot be had, for rows of ncols columns or for anything else. These
// end the run without taking any memory themselves.
[[noreturn]] void failNoMemory(double ncols);
[[noreturn]] void failNoMemory();

// Status 4: something of the output other than a row cannot be written. The same text is
// printed without ending the run where a double-precision provisional header is lost.
std::string writeIntoText(std::string_view output);
Failure writeIntoFailure(std::string_view output);

// Status 5: a row of an input holds fewer values than ncols.
Failure rowReadFailure(std::string_view grid, int row, std::size_t valuesRead);

// Status 6: an output row cannot be written; the single-precision form names the column.
Failure rowWriteFailure(int row, std::string_view output);
Failure rowWriteFailure(int row, std::size_t column, std::string_view output);

// Status 7: a check of the row machinery's counts and states failed: a defect of the tool.
Failure defectFailure(std::string_view what);

// Status 98: an input cannot be opened, or its encoding is not recognised.
Failure cannotOpenInputFailure(std::string_view grid);
Failure unrecognisedFailure(std::string_view grid);

// The output dialogue: why the name is refused, then the prompt; after a non-empty answer,
// the line end.
std::string cannotOpenOutputText(std::string_view output);
std::string wouldOverwriteText(std::string_view output, std::string_view input);
inline constexpr std::string_view promptText = "please enter new output file name: ";
inline constexpr std::string_view answerTakenText = "\r\n";
