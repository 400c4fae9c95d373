#include "decimal/conversion.h"

#include <algorithm>
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

namespace {

// w with the count digits at p appended, eight at a time where fast_float is at hand.
std::uint64_t appendDigits(std::uint64_t w, const char* p, std::ptrdiff_t count) {
#if CELLPROD_FAST_FLOAT
  for (; count >= 8; p += 8, count -= 8)
    w = w * 100'000'000 + fast_float::parse_eight_digits_unrolled(eightCharacters(p));
#endif
  for (; count > 0; ++p, --count) w = w * 10 + static_cast<unsigned>(*p - '0');
  return w;
}

// Whether any of the count digits at p is not a zero.
bool anyNonZero(const char* p, std::ptrdiff_t count) {
  for (; count > 0; ++p, --count)
    if (*p != '0') return true;
  return false;
}

// The value w x 10^q, negative if so, correctly rounded, where w holds the first significant
// digits of the well-formed number text [begin, end), and `truncated` says that a non-zero
// digit follows them: one multiplication with a power of ten of 128 bits (Eisel-Lemire, through
// fast_float). Where the dropped digits could change the rounding, or the step cannot tell, the
// exact conversion of the text decides (and always, in a build without fast_float).
double convertGathered(bool negative, std::uint64_t w, std::int64_t q, bool truncated,
                       const char* begin, const char* end) {
#if !CELLPROD_FAST_FLOAT
  (void)negative, (void)w, (void)q, (void)truncated;
  return convertNumberText(begin, end);
#else
  using Double = fast_float::binary_format<double>;
  const fast_float::adjusted_mantissa am = fast_float::compute_float<Double>(q, w);
  // With digits dropped, the value lies between w and w + 1 at this scale: where those round
  // apart, the exact conversion decides.
  if (am.power2 < 0 || (truncated && am != fast_float::compute_float<Double>(q, w + 1)))
    return convertNumberText(begin, end);
  double value = 0;
  fast_float::to_float(negative, am, value);
  return value;
#endif
}

}  // namespace

double convertScanned(const char* begin, const char* valueEnd, std::uint64_t mantissa,
                      std::int64_t scale, const char* fraction, std::ptrdiff_t fractionDigits) {
  const bool negative = *begin == '-';
  const char* whole = begin + (negative || *begin == '+');
  // The digits before the point end at the point, or where those after it would begin.
  std::ptrdiff_t wholeDigits = fraction - whole - (fraction > whole && fraction[-1] == '.');
  if (wholeDigits + fractionDigits <= maxFastDigits)
    return convertGathered(negative, mantissa, scale, false, begin, valueEnd);
  // More digits than w holds: w takes the first maxFastDigits significant ones, those before
  // the point first, and the place of the last one taken gives q. Only the digits taken and
  // those after them are looked at again.
  while (wholeDigits > 0 && *whole == '0') ++whole, --wholeDigits;
  std::ptrdiff_t leadingZeros = 0;  // after the point, where no digit before it counts
  if (wholeDigits == 0)
    while (leadingZeros < fractionDigits && fraction[leadingZeros] == '0') ++leadingZeros;
  const std::ptrdiff_t fromWhole = std::min<std::ptrdiff_t>(wholeDigits, maxFastDigits);
  const std::ptrdiff_t fromFraction =
      std::min(maxFastDigits - fromWhole, fractionDigits - leadingZeros);
  const char* const fractionTaken = fraction + leadingZeros;
  const std::uint64_t w =
      appendDigits(appendDigits(0, whole, fromWhole), fractionTaken, fromFraction);
  const std::int64_t q =
      scale + fractionDigits + (wholeDigits - fromWhole) - (leadingZeros + fromFraction);
  const bool truncated =
      anyNonZero(whole + fromWhole, wholeDigits - fromWhole) ||
      anyNonZero(fractionTaken + fromFraction, fractionDigits - leadingZeros - fromFraction);
  return convertGathered(negative, w, q, truncated, begin, valueEnd);
}

bool convertToken(const char* first, const char* last, double& value) {
  const NumberExtent n = scanNumber(first);
  if (!n.hasDigits || n.end != last) return false;
  value = n.value;
  return true;
}

bool parseNumber(std::string_view text, double& value) {
  // Followed by '\0', which no number continues with, and the bytes a scan may read after it.
  std::string marked(text);
  marked.append(numberOverread, '\0');
  return convertToken(marked.c_str(), marked.c_str() + text.size(), value);
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
