// The number scanner against the reference: a text is a number exactly when the reference
// consumes all of it, and then both give the same double, bit for bit.
#include <cstddef>
#include <cstdint>
#include <string>

#include "decimal/conversion.h"
#include "support/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  double value = 0;
  const bool parsed = parseNumber(text, value);
  const ReferenceNumber ref = referenceNumber(text, 0);
  const bool expected = ref.ok && ref.end == text.size();
  check(parsed == expected);
  check(!parsed || sameBits(value, ref.value));
  return 0;
}
