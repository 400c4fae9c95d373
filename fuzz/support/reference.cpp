#include "support/reference.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool isBlank(unsigned char c) { return std::isspace(c) != 0; }

ReferenceNumber referenceNumber(const std::string& text, std::size_t pos) {
  auto at = [&](std::size_t i) -> char { return i < text.size() ? text[i] : '\0'; };
  auto digit = [&](std::size_t i) { return std::isdigit(static_cast<unsigned char>(at(i))); };
  ReferenceNumber n;
  std::size_t i = pos;
  if (at(i) == '+' || at(i) == '-') ++i;
  std::size_t digits = 0;
  for (; digit(i); ++i) ++digits;
  if (at(i) == '.') {
    for (++i; digit(i); ++i) ++digits;
  }
  std::size_t valueEnd = i;
  if (digits > 0 && (at(i) == 'e' || at(i) == 'E')) {
    ++i;
    if (at(i) == '+' || at(i) == '-') ++i;
    std::size_t first = i;
    for (; digit(i); ++i) {
    }
    if (i > first) valueEnd = i;
  }
  n.end = i;
  n.ok = digits > 0;
  if (n.ok) {
    std::string value = text.substr(pos, valueEnd - pos);
    n.value = std::strtod(value.c_str(), nullptr);
  }
  return n;
}

std::string referenceGeneral(double x, int precision) {
  if (std::isnan(x)) return "nan";
  if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", precision, x);
  std::string s = buf;
  std::size_t e = s.find('e');
  if (e != std::string::npos && s.size() - (e + 2) < 3) s.insert(e + 2, "0");
  return s;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameValues(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!sameBits(a[i], b[i])) return false;
  return true;
}

void check(bool ok) {
  if (!ok) std::abort();
}

bool rowsAreSmall(double ncols, double nrows) {
  constexpr double maxColumns = 300;
  constexpr double maxRows = 40;
  return ncols >= 0 && ncols <= maxColumns && nrows <= maxRows;
}
