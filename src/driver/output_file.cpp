#include "driver/output_file.h"

#include <cerrno>  // errno, ENOMEM
#include <cstdio>
#include <new>  // nothrow
#include <optional>
#include <utility>  // move

#include "grid/messages.h"
#include "platform/console.h"
#include "platform/os.h"

namespace {

constexpr std::size_t outputStreamBuffer = std::size_t{1} << 20;

// The input that the output name refers to, if any; such an output would destroy it.
const GridInput* inputNamedBy(const std::string& name, const GridInput& grid1,
                              const GridInput& grid2) {
  if (namesOpenFile(name, grid1.file)) return &grid1;
  if (namesOpenFile(name, grid2.file)) return &grid2;
  return nullptr;
}

// Whether standard input is the stream of an input grid (the same pipe, FIFO or file): its
// next line is grid data, never an answer, so the dialogue takes standard input as ended.
bool standardInputIsAGrid(const GridInput& grid1, const GridInput& grid2) {
  return standardInputReads(grid1.file) || standardInputReads(grid2.file);
}

// One line from standard input without its line end (LF or CRLF), any length, as a name. False
// if the input ended before any character was read.
bool readAnswerLine(std::string& line) {
  if (const std::optional<bool> typed = readConsoleLine(line)) return *typed;
  line.clear();
  int c = std::getchar();
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::getchar()) line.push_back(static_cast<char>(c));
  if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
  line = nameFromBytes(std::move(line));
  return true;
}

}  // namespace

void openOutput(GridOutput& out, const GridInput& grid1, const GridInput& grid2) {
  const char* mode = out.encoding == GridEncoding::text ? "wt" : "wb";
  for (;;) {
    if (const GridInput* input = inputNamedBy(out.name, grid1, grid2)) {
      say(wouldOverwriteText(out.name, input->name));
    } else if ((out.file = openOutputFile(out.name, mode)) != nullptr) {
      flushOnFailure(out.file);  // a run that fails keeps what was written
      out.streamBuffer.reset(new (std::nothrow) char[outputStreamBuffer]);
      if (!out.streamBuffer) failNoMemory();
      std::setvbuf(out.file, out.streamBuffer.get(), _IOFBF, outputStreamBuffer);
      return;
    } else if (errno == ENOMEM) {
      failNoMemory();  // the stream itself: no other name would do better
    } else {
      say(cannotOpenOutputText(out.name));
    }
    say(promptText);
    std::fflush(stdout);
    std::string answer;
    if (standardInputIsAGrid(grid1, grid2) || !readAnswerLine(answer) || answer.empty())
      fail(noAnswerFailure());
    out.name = std::move(answer);
    say(answerTakenText);
  }
}
