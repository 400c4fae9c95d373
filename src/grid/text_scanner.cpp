#include "grid/text_scanner.h"

#include <algorithm>  // min
#include <charconv>   // from_chars, to_chars
#include <cstring>   // memchr, memcpy, memmove
#include <limits>
#include <system_error>

#include "platform/compiler.h"

namespace {

// A number shorter than this never needs the digit-by-digit path: the buffer is refilled so
// that at least this many bytes lie ahead before a number is scanned.
constexpr std::size_t lookahead = 4096;

// Enough digits to round any decimal correctly to a double; later digits only matter as a
// "something non-zero follows" mark.
constexpr std::size_t maxDigits = 800;

constexpr std::int64_t exponentLimit = 1'000'000'000'000;

bool isDigit(int c) { return c >= '0' && c <= '9'; }

// The white space of the C locale.
bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Adds the n bytes that lie after the end of the bytes at hand to them, up to a Ctrl-Z that
// ends the input, and marks the new end. False when none were added: the input has ended.
bool takeBytes(TextScanner& s, std::size_t n) {
  if (s.endsAtCtrlZ) {
    const char* first = s.buffer.get() + s.end;
    if (const void* ctrlZ = std::memchr(first, '\x1a', n)) {
      n = static_cast<std::size_t>(static_cast<const char*>(ctrlZ) - first);
      s.atEof = true;
    }
  }
  s.end += n;
  s.buffer[s.end] = '\0';
  if (n == 0) s.atEof = true;
  return n > 0;
}

// Moves the unread bytes to the front and reads more behind them. False when nothing came.
bool refill(TextScanner& s) {
  if (s.atEof) return false;
  if (s.pos > 0) {
    std::memmove(s.buffer.get(), s.buffer.get() + s.pos, s.end - s.pos);
    s.end -= s.pos;
    s.pos = 0;
  }
  std::size_t got = std::fread(s.buffer.get() + s.end, 1, s.capacity - s.end, s.file);
  return takeBytes(s, got);
}

// The next byte, or -1 at the end of the input.
int peek(TextScanner& s) {
  if (s.pos == s.end && !refill(s)) return -1;
  return static_cast<unsigned char>(s.buffer[s.pos]);
}

bool skipSpace(TextScanner& s) {
  for (;;) {
    while (isSpace(static_cast<unsigned char>(s.buffer[s.pos]))) ++s.pos;  // stops at the end mark
    if (s.pos < s.end) return true;
    if (!refill(s)) return false;
  }
}

// Powers of ten that doubles hold exactly.
constexpr double exactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Where a number starting at p ends, by the grammar; valueEnd leaves out an exponent marker
// that no digit follows. The text must be followed by a byte that cannot continue a number
// (the scanner's end mark, '\0'), so the loops need no bounds checks; a number that reaches
// the end mark of a scanner may go on beyond the bytes at hand. While scanning, the digits are gathered: when there are
// at most 19 of them, their integer is at most 2^53 and the decimal exponent at most 22 away
// from 0, the value is one exact integer times or divided by one exact power of ten, which a
// single IEEE operation rounds correctly; `exact` says the value is ready.
struct NumberExtent {
  const char* valueEnd;
  const char* end;
  bool hasDigits;
  bool exact;
  double value;
};

CELLPROD_ALWAYS_INLINE NumberExtent scanNumber(const char* p) {
  const char* q = p;
  const bool negative = *q == '-';
  q += (*q == '+') | negative;
  std::uint64_t mantissa = 0;  // wraps for more than 19 digits, which are then not exact
  const char* first = q;
  for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) <= 9; ++q)
    mantissa = mantissa * 10 + d;
  std::ptrdiff_t digits = q - first;
  std::ptrdiff_t fractionDigits = 0;
  if (*q == '.') {
    const char* fraction = ++q;
    for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) <= 9; ++q)
      mantissa = mantissa * 10 + d;
    fractionDigits = q - fraction;
    digits += fractionDigits;
  }
  const char* valueEnd = q;
  std::int64_t exponent = 0;
  if (digits > 0 && (*q == 'e' || *q == 'E')) {
    ++q;
    const bool exponentNegative = *q == '-';
    q += (*q == '+') | exponentNegative;
    const char* exponentDigits = q;
    for (; isDigit(*q); ++q) {
      if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
    }
    if (q != exponentDigits) valueEnd = q;
    if (exponentNegative) exponent = -exponent;
  }
  NumberExtent n{valueEnd, q, digits > 0, false, 0};
  const std::int64_t scale = exponent - fractionDigits;
  if (digits > 0 && digits <= 19 && mantissa <= (std::uint64_t{1} << 53) && scale >= -22 &&
      scale <= 22) {
    const double m = static_cast<double>(mantissa);
    const double v = scale < 0 ? m / exactPowers[-scale] : m * exactPowers[scale];
    n.exact = true;
    n.value = negative ? -v : v;
  }
  return n;
}

// Feeds a well-formed number text to a DecimalBuilder.
double buildValue(const char* p, const char* e) {
  DecimalBuilder b;
  if (p < e && (*p == '+' || *p == '-')) b.negative = *p++ == '-';
  bool inFraction = false;
  for (; p < e && (isDigit(*p) || *p == '.'); ++p) {
    if (*p == '.') inFraction = true;
    else b.addDigit(*p, inFraction);
  }
  if (p < e) {  // exponent marker
    ++p;
    if (p < e && (*p == '+' || *p == '-')) b.exponentNegative = *p++ == '-';
    for (; p < e; ++p) b.addExponentDigit(*p);
  }
  return b.value();
}

// The value of a well-formed number text that has at least one digit.
double convertNumberText(const char* p, const char* e) {
  const char* first = (*p == '+') ? p + 1 : p;
  double value = 0;
  auto [ptr, ec] = std::from_chars(first, e, value, std::chars_format::general);
  if (ec == std::errc{} && ptr == e) return value;
  return buildValue(p, e);  // beyond the double range, or a form from_chars does not take
}

// Reads a number that may run past the bytes in the buffer, one byte at a time.
CELLPROD_NOINLINE bool readLongNumber(TextScanner& s, double& value) {
  DecimalBuilder b;
  int c = peek(s);
  if (c == '+' || c == '-') {
    b.negative = c == '-';
    ++s.pos;
    c = peek(s);
  }
  bool inFraction = false;
  for (; isDigit(c) || (c == '.' && !inFraction); ++s.pos, c = peek(s)) {
    if (c == '.') inFraction = true;
    else b.addDigit(static_cast<char>(c), inFraction);
  }
  if (!b.anyDigit) return false;
  if (c == 'e' || c == 'E') {
    ++s.pos;
    c = peek(s);
    if (c == '+' || c == '-') {
      b.exponentNegative = c == '-';
      ++s.pos;
      c = peek(s);
    }
    for (; isDigit(c); ++s.pos, c = peek(s)) b.addExponentDigit(static_cast<char>(c));
  }
  value = b.value();
  return true;
}

// Consumes the number that starts at p, within the bytes at hand. One that runs into their
// end before the input has ended may go on beyond them: it is read byte by byte instead.
CELLPROD_ALWAYS_INLINE bool consumeNumber(TextScanner& s, const char* p, double& value) {
  const char* const buffer = s.buffer.get();
  const NumberExtent n = scanNumber(p);
  if (n.end == buffer + s.end && !s.atEof) {
    s.pos = static_cast<std::size_t>(p - buffer);
    return readLongNumber(s, value);
  }
  s.pos = static_cast<std::size_t>(n.end - buffer);
  if (!n.hasDigits) return false;
  value = n.exact ? n.value : convertNumberText(p, n.valueEnd);
  return true;
}

// readNumber near the end of the bytes at hand: refills the buffer first, so that only a
// number longer than the lookahead ever needs the byte-by-byte reader.
CELLPROD_NOINLINE bool readNumberNearEnd(TextScanner& s, double& value) {
  if (!skipSpace(s)) return false;
  const std::size_t wanted = std::min(lookahead, s.capacity / 2);
  while (s.end - s.pos < wanted && refill(s)) {
  }
  return consumeNumber(s, s.buffer.get() + s.pos, value);
}

}  // namespace

void initScanner(TextScanner& scanner, std::FILE* file, std::size_t capacity) {
  scanner.file = file;
  scanner.capacity = capacity;
  scanner.buffer = std::make_unique_for_overwrite<char[]>(capacity + 1);  // and the end mark
  scanner.buffer[0] = '\0';
  scanner.pos = scanner.end = 0;
  scanner.atEof = false;
}

void preloadScanner(TextScanner& scanner, const char* bytes, std::size_t n) {
  n = std::min(n, scanner.capacity - scanner.end);
  if (n == 0) return;
  std::memcpy(scanner.buffer.get() + scanner.end, bytes, n);
  takeBytes(scanner, n);
}

bool readToken(TextScanner& s) {
  if (!skipSpace(s)) return false;
  for (;;) {
    while (s.pos < s.end && !isSpace(static_cast<unsigned char>(s.buffer[s.pos]))) ++s.pos;
    if (s.pos < s.end || !refill(s)) return true;
  }
}

namespace {

// readNumber, for inlining into the loop of readNumbersPlain.
CELLPROD_ALWAYS_INLINE bool readOneNumber(TextScanner& s, double& value) {
  // Most numbers lie well inside the bytes at hand and are scanned with local pointers.
  const char* const buffer = s.buffer.get();
  const char* p = buffer + s.pos;
  while (isSpace(static_cast<unsigned char>(*p))) ++p;  // stops at the end mark
  if (static_cast<std::size_t>(buffer + s.end - p) < lookahead) {
    s.pos = static_cast<std::size_t>(p - buffer);
    return readNumberNearEnd(s, value);
  }
  return consumeNumber(s, p, value);
}

}  // namespace

bool readNumber(TextScanner& s, double& value) { return readOneNumber(s, value); }

std::size_t readNumbersPlain(TextScanner& s, double* values, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!readOneNumber(s, values[i])) return i;
  }
  return n;
}

bool convertToken(const char* first, const char* last, double& value) {
  const NumberExtent n = scanNumber(first);
  if (!n.hasDigits || n.end != last) return false;
  value = n.exact ? n.value : convertNumberText(first, n.valueEnd);
  return true;
}

bool parseNumber(std::string_view text, double& value) {
  const std::string marked(text);  // ends in '\0', which no number continues with
  return convertToken(marked.c_str(), marked.c_str() + marked.size(), value);
}

void DecimalBuilder::addDigit(char c, bool inFraction) {
  anyDigit = true;
  if (digits.empty() && c == '0') {
    if (inFraction) --shift;  // a leading zero after the point moves the value down
    return;
  }
  if (digits.size() < maxDigits) digits.push_back(c);
  else if (c != '0') sticky = true;
  if (!inFraction) ++shift;
}

void DecimalBuilder::addExponentDigit(char c) {
  if (exponent < exponentLimit) exponent = exponent * 10 + (c - '0');
}

double DecimalBuilder::value() const {
  constexpr double inf = std::numeric_limits<double>::infinity();
  if (digits.empty()) return negative ? -0.0 : 0.0;
  std::int64_t e = shift + (exponentNegative ? -exponent : exponent);
  // Far outside the double range the answer is known without converting.
  if (e > 400) return negative ? -inf : inf;
  if (e < -400) return negative ? -0.0 : 0.0;
  std::string text = negative ? "-0." : "0.";
  text += digits;
  if (sticky) text += '1';
  text += 'e';
  char exp[24];
  auto r = std::to_chars(exp, exp + sizeof exp, e);
  text.append(exp, r.ptr);
  double v = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    if (e > 0) return negative ? -inf : inf;
    return negative ? -0.0 : 0.0;
  }
  return v;
}
