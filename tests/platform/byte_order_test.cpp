// The byte order of binary grids: the reversal that big-endian hosts apply, checked here on any
// host against the bytes of known values (the s390x suite runs it on a big-endian CPU).
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "platform/byte_order.h"

namespace {

TEST(ByteOrder, ReversalOfKnownValues) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(byte_order::reverseBytes(1.0)),
            std::uint64_t{0x000000000000F03F});
  EXPECT_EQ(std::bit_cast<std::uint32_t>(byte_order::reverseBytes(-9999.0f)),
            std::uint32_t{0x003C1CC6});
  EXPECT_EQ(byte_order::reverseBytes(byte_order::reverseBytes(-9999.5)), -9999.5);
}

}  // namespace
