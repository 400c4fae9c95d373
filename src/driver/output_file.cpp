#include "driver/output_file.h"

#include <cerrno>  // errno, ENOMEM
#include <cstdio>
#include <new>  // nothrow
#include <optional>
#include <string>
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

// How standard input spells its answers, decided by its first bytes: after a UTF-16 byte-order
// mark (an answer file saved as "Unicode") every answer is UTF-16 of that byte order; else the
// answers are bytes, as nameFromBytes() takes them.
enum class AnswerText { undecided, bytes, utf16Little, utf16Big };

struct AnswerInput {
  AnswerText text = AnswerText::undecided;
  std::string pending;  // bytes looked at to decide, read before standard input's next ones
  bool ended = false;   // on Windows a Ctrl-Z ends the bytes, as text mode would
};

AnswerInput answers;

int nextByte() {
  if (answers.ended) return EOF;
  int c = EOF;
  if (answers.pending.empty()) {
    c = std::getchar();
  } else {
    c = static_cast<unsigned char>(answers.pending.front());
    answers.pending.erase(0, 1);
  }
  if (c == EOF || (c == 0x1a && textModeEndsAtCtrlZ && answers.text == AnswerText::bytes)) {
    answers.ended = true;
    return EOF;
  }
  return c;
}

void decideAnswerText() {
  readStandardInputAsBytes();
  answers.text = AnswerText::bytes;
  const int first = std::getchar();
  if (first == EOF) return;
  answers.pending.push_back(static_cast<char>(first));
  if (first != 0xff && first != 0xfe) return;
  const int second = std::getchar();
  if (second == EOF) return;
  answers.pending.push_back(static_cast<char>(second));
  if (first == 0xff && second == 0xfe) answers.text = AnswerText::utf16Little;
  if (first == 0xfe && second == 0xff) answers.text = AnswerText::utf16Big;
  if (answers.text != AnswerText::bytes) answers.pending.clear();
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3f));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

// UTF-16 as UTF-8; a surrogate without its pair, which no name holds, as U+FFFD.
std::string utf8FromUtf16(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    const bool high = c >= 0xd800 && c < 0xdc00;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xdc00 && units[i + 1] < 0xe000) {
      c = 0x10000 + ((c - 0xd800) << 10) + (units[++i] - 0xdc00);
    } else if (c >= 0xd800 && c < 0xe000) {
      c = 0xfffd;
    }
    appendUtf8(out, c);
  }
  return out;
}

// One UTF-16 line, up to U+000A; false if the input ended before any character was read.
bool readUtf16Line(std::string& line, bool bigEndian) {
  std::u16string units;
  bool any = false;
  for (;;) {
    const int a = nextByte(), b = a == EOF ? EOF : nextByte();
    if (b == EOF) break;
    any = true;
    const auto unit = static_cast<char16_t>(bigEndian ? a << 8 | b : b << 8 | a);
    if (unit == u'\n') break;
    units += unit;
  }
  if (!units.empty() && units.back() == u'\r') units.pop_back();
  line = utf8FromUtf16(units);
  return any;
}

// One line from standard input without its line end (LF or CRLF), any length, as a name. False
// if the input ended before any character was read. A UTF-8 byte-order mark in front of it (an
// answer file saved as "UTF-8 with BOM") is no part of the name.
bool readAnswerLine(std::string& line) {
  if (const std::optional<bool> typed = readConsoleLine(line)) return *typed;
  line.clear();
  if (answers.text == AnswerText::undecided) decideAnswerText();
  if (answers.text != AnswerText::bytes)
    return readUtf16Line(line, answers.text == AnswerText::utf16Big);
  int c = nextByte();
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = nextByte()) line.push_back(static_cast<char>(c));
  if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
  if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
  line = nameFromBytes(std::move(line));
  return true;
}

}  // namespace

void openOutput(GridOutput& out, const GridInput& grid1, const GridInput& grid2, bool emptyLater) {
  const char* mode = out.encoding == GridEncoding::text ? "wt" : "wb";
  for (;;) {
    if (const GridInput* input = inputNamedBy(out.name, grid1, grid2)) {
      say(wouldOverwriteText(out.name, input->name));
    } else if ((out.file = openOutputFile(out.name, mode, emptyLater)) != nullptr) {
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
