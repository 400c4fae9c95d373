// A buffered reader of white-space separated tokens and decimal numbers. It applies one number
// grammar on every platform, whatever the C library's scanf would accept:
//   [+|-] digits with at most one '.', and, after at least one digit, [e|E [+|-] digits].
// A number consumes characters as long as they continue that form; an exponent marker that no
// digit follows is consumed and ignored. Without any digit the read fails, and the character
// that did not fit stays in the input. "inf", "nan" and hexadecimal forms are not numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // FILE
#include <memory>
#include <string>
#include <string_view>

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
void initScanner(TextScanner& scanner, std::FILE* file, std::size_t capacity = defaultScanBuffer);

// Puts bytes already taken from the stream (by detection, from an input that cannot go back to
// its start) in front of what the stream delivers next. Call it right after initScanner.
void preloadScanner(TextScanner& scanner, const char* bytes, std::size_t n);

// Skips white space, then consumes one token of any length. False at the end of the input.
bool readToken(TextScanner& scanner);

// Skips white space and reads one number by the grammar above. False if no digit was found.
bool readNumber(TextScanner& scanner, double& value);

// Reads up to n numbers into values[0..n), one after the other as readNumber does; returns how
// many were read before one failed (n if none did). This plain loop defines the batch readers
// of the vector paths (text_paths.h).
std::size_t readNumbersPlain(TextScanner& scanner, double* values, std::size_t n);

// The value of the token [first, last) if it is exactly one number by the grammar above, as
// readNumber would read it; false otherwise. The byte at last must be one that no number
// continues with (white space, or the end mark).
bool convertToken(const char* first, const char* last, double& value);

// Converts a complete number text by the grammar above (for example "12.5e-3", "-.5", "1e");
// returns false if the text is not exactly one such number. Short numbers take an exact fast
// path; others go through std::from_chars and, beyond the double range, DecimalBuilder.
bool parseNumber(std::string_view text, double& value);

// Reference conversion that works digit by digit, bounded in memory for numbers of any length.
// Values beyond the double range become infinities, values below it the correctly rounded
// result (0 or a subnormal).
struct DecimalBuilder {
  bool negative = false;
  bool anyDigit = false;
  std::string digits;        // significant digits, leading zeros dropped, at most maxDigits
  bool sticky = false;       // a non-zero digit was dropped beyond maxDigits
  std::int64_t shift = 0;    // value = 0.digits x 10^(shift + exponent)
  std::int64_t exponent = 0; // saturated
  bool exponentNegative = false;

  void addDigit(char c, bool inFraction);
  void addExponentDigit(char c);
  double value() const;
};
