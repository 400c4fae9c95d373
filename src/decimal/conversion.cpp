#include "decimal/conversion.h"

#include <algorithm>  // min, max, copy_n
#include <array>
#include <atomic>
#include <bit>       // bit_cast
#include <charconv>  // from_chars, to_chars
#include <cstdint>   // SIZE_MAX
#include <limits>
#include <new>  // bad_alloc
#include <system_error>

namespace {

// a + b within ±exponentLimit.
std::int64_t saturatedSum(std::int64_t a, std::int64_t b) {
  return std::clamp(a + b, -exponentLimit, exponentLimit);
}

// Whether any of the count digits at p is not a zero.
bool anyNonZero(const char* p, std::int64_t count) {
  for (; count > 0; ++p, --count)
    if (*p != '0') return true;
  return false;
}

// The significant digits of a number text: where they begin among the digits before the point
// and after it, leading zeros left out. Where no digit before the point counts, the zeros after
// the point are counted in leadingZeros.
struct Significant {
  const char* whole;
  std::int64_t wholeDigits;
  const char* fraction;
  std::int64_t fractionDigits;
  std::int64_t leadingZeros;  // after the point
};

Significant significantDigits(const NumberText& n) {
  Significant d{n.whole, n.wholeDigits, n.fraction, n.fractionDigits, 0};
  while (d.wholeDigits > 0 && *d.whole == '0') ++d.whole, --d.wholeDigits;
  if (d.wholeDigits == 0)
    while (d.fractionDigits > 0 && *d.fraction == '0')
      ++d.fraction, --d.fractionDigits, ++d.leadingZeros;
  return d;
}

}  // namespace

// The exact conversion: the first maxSignificantDigits significant digits, and a 1 after them
// where a non-zero digit follows, as "0.digits" times a power of ten, by std::from_chars, which
// rounds correctly. Far outside the double range the answer is known without converting.
double convertNumber(const NumberText& n) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const double zero = n.negative ? -0.0 : 0.0, infinity = n.negative ? -inf : inf;
  const Significant d = significantDigits(n);
  if (d.wholeDigits + d.fractionDigits == 0) return zero;
  // The power of ten of "0.digits": the digits before the point, less the zeros after it.
  const std::int64_t e = saturatedSum(d.wholeDigits - d.leadingZeros, n.exponent);
  if (e > 400) return infinity;
  if (e < -400) return zero;
  // The text on the stack: a thread that converts many such numbers allocates nothing, where
  // memory may be short.
  char text[maxSignificantDigits + 32];  // "-0.", the digits, a 1, "e" and the exponent
  char* t = text;
  if (n.negative) *t++ = '-';
  *t++ = '0';
  *t++ = '.';
  const std::int64_t fromWhole = std::min<std::int64_t>(d.wholeDigits, maxSignificantDigits);
  const std::int64_t fromFraction = std::min<std::int64_t>(
      d.fractionDigits, static_cast<std::int64_t>(maxSignificantDigits) - fromWhole);
  t = std::copy_n(d.whole, fromWhole, t);
  t = std::copy_n(d.fraction, fromFraction, t);
  if (anyNonZero(d.whole + fromWhole, d.wholeDigits - fromWhole) ||
      anyNonZero(d.fraction + fromFraction, d.fractionDigits - fromFraction))
    *t++ = '1';
  *t++ = 'e';
  t = std::to_chars(t, text + sizeof text, e).ptr;
  double value = 0;
  const auto [end, ec] = std::from_chars(text, t, value);
  (void)end;
  if (ec == std::errc::result_out_of_range) return e > 0 ? infinity : zero;
  return value;
}

// 10^-f for f = 0 to largestQuotientPower, each the nearest double: an estimate multiplies by
// it, sooner than it would divide.
constexpr double inversePowersOfTen[] = {
    1e-0,  1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,  1e-8,  1e-9,  1e-10, 1e-11, 1e-12,
    1e-13, 1e-14, 1e-15, 1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22, 1e-23, 1e-24, 1e-25};
static_assert(std::size(inversePowersOfTen) == largestQuotientPower + 1);

bool nearestByEstimate(std::uint64_t a, std::uint64_t b, unsigned f, double& value) {
  // a and b lie below 2^63, where a signed conversion is one instruction everywhere. Three
  // roundings leave the estimate within two units, mostly within one.
  const double estimate = (static_cast<double>(static_cast<std::int64_t>(a)) * 1e16 +
                           static_cast<double>(static_cast<std::int64_t>(b))) *
                          inversePowersOfTen[f];
  const auto bits = std::bit_cast<std::uint64_t>(estimate);
  const auto q = 1075 - static_cast<int>(bits >> 52);  // the estimate is positive
  if (q < static_cast<int>(f) || q >= 1075) return false;
  constexpr std::uint64_t unitsInBinade = std::uint64_t{1} << 52;
  const std::uint64_t k = (bits & (unitsInBinade - 1)) | unitsInBinade;
  const auto shift = static_cast<unsigned>(q) - f;
  const std::uint64_t m = a * 10'000'000'000'000'000 + b;  // modulo 2^64, as all below
  const auto five = static_cast<std::int64_t>(powersOfFive[f].power);
  const auto r = static_cast<std::int64_t>((shift < 64 ? m << shift : 0) -
                                           k * static_cast<std::uint64_t>(five));
  const int step = (2 * r > five) - (2 * r < -five);
  const std::int64_t rest = r - step * five;
  const std::uint64_t nearest = k + static_cast<std::uint64_t>(step);
  if (2 * rest > five || 2 * rest < -five || nearest < unitsInBinade ||
      (nearest == unitsInBinade && rest < 0))
    return false;
  value = static_cast<double>(nearest) * std::bit_cast<double>(std::uint64_t(1023 - q) << 52);
  return true;
}

bool nearestOfTwentyDigits(const char* first, std::uint64_t mantissa, unsigned f, bool fiveLast,
                           double& value) {
  std::uint64_t a = 0;
  for (int n = 0; n < 4; ++first)
    if (*first != '.') a = a * 10 + static_cast<std::uint64_t>(*first - '0'), ++n;
  return nearestQuotient(a, mantissa - a * 10'000'000'000'000'000, f, fiveLast, value);
}

double convertScanned(const char* begin, const char* end, const char* fraction,
                      std::int64_t fractionDigits, std::int64_t exponent) {
  if (double value; fromCharsUntil(begin, end, value) == end) return value;
  NumberText n;
  n.negative = *begin == '-';
  n.whole = begin + (n.negative || *begin == '+');
  // The digits before the point end at the point, or where those after it would begin.
  n.wholeDigits = fraction - n.whole - (fraction > n.whole && fraction[-1] == '.');
  n.fraction = fraction;
  n.fractionDigits = fractionDigits;
  n.exponent = exponent;
  return convertNumber(n);
}

bool convertToken(const char* first, const char* last, double& value) {
  // A token of more than 20 bytes, most often one the scan would give to from_chars in the end
  // (the AVX-512 reader's own forms have declined it), from_chars alone reads, if it reads it
  // whole: then it is one number of the grammar, since from_chars reads a subset of it from its
  // first byte on, and the token ends where the number does.
  if (last - first > 20 && fromCharsUntil(first, last, value) == last) return true;
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

namespace {
std::atomic<std::size_t> keptDigitsLimit{SIZE_MAX};  // limitLongNumberMemory's
}

void limitLongNumberMemory(std::size_t digits) { keptDigitsLimit.store(digits); }

void LongNumberText::addDigit(char c, bool inFraction) {
  anyDigit = true;
  if (kept.empty() && c == '0') {
    if (inFraction) scale = saturatedSum(scale, -1);  // a leading zero after the point
  } else if (kept.size() < maxSignificantDigits) {
    if (kept.size() >= keptDigitsLimit.load(std::memory_order_relaxed)) throw std::bad_alloc();
    kept.push_back(c);
    if (inFraction) scale = saturatedSum(scale, -1);
  } else {
    dropped |= c != '0';
    if (!inFraction) scale = saturatedSum(scale, 1);  // a whole digit left out
  }
}

NumberText LongNumberText::text() {
  if (dropped) {  // a little more than the digits kept, and less than their next step
    kept.push_back('1');
    scale = saturatedSum(scale, -1);
    dropped = false;
  }
  NumberText n;
  n.negative = negative;
  n.whole = kept.data();
  n.wholeDigits = static_cast<std::int64_t>(kept.size());
  n.fraction = kept.data() + kept.size();
  n.exponent = saturatedSum(scale, exponentNegative ? -exponent : exponent);
  return n;
}
