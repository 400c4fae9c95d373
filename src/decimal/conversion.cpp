#include "decimal/conversion.h"

#if CELLPROD_FAST_FLOAT
#include <fast_float/fast_float.h>  // compute_float, to_float: Eisel-Lemire
#endif

#include <charconv>  // from_chars, to_chars
#include <limits>
#include <system_error>

namespace {

// Enough digits to round any decimal correctly to a double; later digits only matter as a
// "something non-zero follows" mark.
constexpr std::size_t maxDigits = 800;

constexpr std::int64_t exponentLimit = 1'000'000'000'000;

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

}  // namespace

double convertNumberText(const char* p, const char* e) {
  const char* first = (*p == '+') ? p + 1 : p;
  double value = 0;
  auto [ptr, ec] = std::from_chars(first, e, value, std::chars_format::general);
  if (ec == std::errc{} && ptr == e) return value;
  return buildValue(p, e);  // beyond the double range, or a form from_chars does not take
}

double convertScanned(const NumberExtent& n) {
#if !CELLPROD_FAST_FLOAT
  return convertNumberText(n.begin, n.valueEnd);
#else
  using Double = fast_float::binary_format<double>;
  std::uint64_t w = n.mantissa;
  std::int64_t q = n.scale;
  bool truncated = false;  // a non-zero digit lies beyond the ones in w
  if (n.digits > maxFastDigits) {
    // Leading zeros aside, more digits may follow than w holds: w takes the first
    // maxFastDigits of them, and each digit dropped after them raises q by one.
    const char* p = n.begin + (*n.begin == '+' || *n.begin == '-');
    while (p < n.valueEnd && (*p == '0' || *p == '.')) ++p;
    int taken = 0;
    w = 0;
    for (; p < n.valueEnd && (isDigit(*p) || *p == '.'); ++p) {
      if (*p == '.') continue;
      if (taken < maxFastDigits) {
        w = w * 10 + static_cast<unsigned>(*p - '0');
        ++taken;
      } else {
        ++q;
        truncated |= *p != '0';
      }
    }
  }
  fast_float::adjusted_mantissa am = fast_float::compute_float<Double>(q, w);
  // With digits dropped, the value lies between w and w + 1 at this scale: where those round
  // apart, or the step cannot tell, the exact conversion decides.
  if (am.power2 < 0 || (truncated && am != fast_float::compute_float<Double>(q, w + 1)))
    return convertNumberText(n.begin, n.valueEnd);
  double value = 0;
  fast_float::to_float(n.negative, am, value);
  return value;
#endif
}

bool convertToken(const char* first, const char* last, double& value) {
  const NumberExtent n = scanNumber(first);
  if (!n.hasDigits || n.end != last) return false;
  value = n.exact ? n.value : convertScanned(n);
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
