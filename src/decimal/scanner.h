// A buffered reader of white-space separated tokens and decimal numbers, by the grammar of
// conversion.h. Without any digit a number read fails, and the character that did not fit
// stays in the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // FILE
#include <memory>

struct TextScanner {
  std::FILE* file = nullptr;
  std::unique_ptr<char[]> buffer;  // capacity bytes and an end mark '\0' after the last one read
  std::size_t capacity = 0;
  std::size_t pos = 0;  // next unread byte
  std::size_t end = 0;  // end of the bytes read so far
  bool atEof = false;   // the stream has delivered its last byte (or failed)
  // The input ends at its first Ctrl-Z byte, as a file read in text mode does on Windows; for
  // a stream that could not be reopened in text mode there.
  bool endsAtCtrlZ = false;
};

constexpr std::size_t defaultScanBuffer = std::size_t{1} << 20;

// Attaches the scanner to an open stream; a small capacity is for tests of buffer boundaries.
// False when its buffer cannot be allocated.
bool initScanner(TextScanner& scanner, std::FILE* file, std::size_t capacity = defaultScanBuffer);

// Puts bytes already taken from the stream (by detection, from an input that cannot go back to
// its start) in front of what the stream delivers next. Call it right after initScanner.
void preloadScanner(TextScanner& scanner, const char* bytes, std::size_t n);

// Skips white space, then consumes one token of any length. False at the end of the input.
bool readToken(TextScanner& scanner);

// Skips white space and reads one number by the grammar of conversion.h. False if no digit was
// found.
bool readNumber(TextScanner& scanner, double& value);

// Reads up to n numbers into values[0..n), one after the other as readNumber does; returns how
// many were read before one failed (n if none did). This plain loop defines the batch readers
// of the vector paths (kernels.h).
std::size_t readNumbersPlain(TextScanner& scanner, double* values, std::size_t n);
