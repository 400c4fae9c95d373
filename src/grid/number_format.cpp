#include "grid/number_format.h"

#include <charconv>  // from_chars, to_chars
#include <cmath>     // isnan, isinf, trunc
#include <cstring>   // memcpy, memmove

namespace {

char* copyText(char* out, const char* text) {
  std::size_t n = std::strlen(text);
  std::memcpy(out, text, n);
  return out + n;
}

// Spellings of the values that are not finite; null for a finite value.
const char* nonFiniteText(double x) {
  if (std::isnan(x)) return "nan";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  return nullptr;
}

// Widens a two-digit exponent ("e+08") to three digits ("e+008") in place.
char* widenExponent(char* first, char* last) {
  char* e = last;
  while (e > first && *(e - 1) != 'e') --e;
  if (e == first) return last;  // fixed form
  char* digits = e + 1;         // e points after 'e'; digits after the sign
  std::ptrdiff_t count = last - digits;
  if (count >= 3) return last;
  std::ptrdiff_t pad = 3 - count;
  std::memmove(digits + pad, digits, static_cast<std::size_t>(count));
  for (std::ptrdiff_t i = 0; i < pad; ++i) digits[i] = '0';
  return last + pad;
}

}  // namespace

char* formatGeneral(char* out, double x, int precision) {
  if (const char* text = nonFiniteText(x)) return copyText(out, text);
  auto r = std::to_chars(out, out + maxGeneralLength, x, std::chars_format::general, precision);
  return widenExponent(out, r.ptr);
}

char* formatRoundTrip(char* out, double x) {
  if (nonFiniteText(x)) return formatGeneral(out, x, 6);
  for (int precision = 6; precision < 17; ++precision) {
    auto r = std::to_chars(out, out + maxGeneralLength, x, std::chars_format::general, precision);
    double back = 0;
    std::from_chars(out, r.ptr, back);
    if (back == x) return widenExponent(out, r.ptr);
  }
  return formatGeneral(out, x, 17);
}

std::string g6Text(double x) {
  char buf[maxGeneralLength];
  return std::string(buf, formatG6(buf, x));
}

std::string fixed6Text(double x) {
  if (const char* text = nonFiniteText(x)) return text;
  char buf[400];  // the largest double has 309 integer digits
  auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 6);
  return std::string(buf, r.ptr);
}

std::int32_t truncateToInt32(double x) {
  if (std::isnan(x)) return 0;
  double t = std::trunc(x);
  if (t >= 2147483647.0) return 2147483647;
  if (t <= -2147483648.0) return -2147483647 - 1;
  return static_cast<std::int32_t>(t);
}
