// A text in a temporary file with a scanner over it, for the tests of the number readers.
#pragma once

#include <cstdio>
#include <string>

#include "decimal/scanner.h"

struct ScannedText {
  std::FILE* file;
  StreamBytes bytes;
  TextScanner scanner;

  explicit ScannedText(const std::string& text, std::size_t capacity = defaultScanBuffer)
      : file(std::tmpfile()), bytes{file} {
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    initScanner(scanner, capacity);
    attachScanner(scanner, bytes);
  }
  ~ScannedText() { std::fclose(file); }
  ScannedText(const ScannedText&) = delete;
  ScannedText& operator=(const ScannedText&) = delete;

  // The bytes not consumed yet: those at hand in the scanner, then the rest of the file.
  std::string rest() {
    std::string r(scanner.buffer.get() + scanner.pos, scanner.end - scanner.pos);
    for (int c; (c = std::fgetc(file)) != EOF;) r.push_back(static_cast<char>(c));
    return r;
  }
};
