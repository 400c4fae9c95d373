// The byte order of binary grids: the reversal that big-endian hosts apply, checked here on any
// host against the bytes of known values (the s390x suite runs it for real).
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/byte_order.h"

namespace {

TEST(ByteOrder, ReversalOfKnownValues) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(byte_order::reverseBytes(1.0)),
            std::uint64_t{0x000000000000F03F});
  EXPECT_EQ(std::bit_cast<std::uint32_t>(byte_order::reverseBytes(-9999.0f)),
            std::uint32_t{0x003C1CC6});
  EXPECT_EQ(byte_order::reverseBytes(byte_order::reverseBytes(-9999.5)), -9999.5);
}

TEST(ByteOrder, LittleEndianBytesGiveTheValueOnThisHost) {
  // -9999 as a little-endian double and float, as the header of a binary grid holds it.
  const unsigned char asDouble[] = {0x00, 0x00, 0x00, 0x00, 0x80, 0x87, 0xC3, 0xC0};
  const unsigned char asFloat[] = {0x00, 0x3C, 0x1C, 0xC6};
  EXPECT_EQ(byte_order::loadLittleEndian<double>(asDouble), -9999.0);
  EXPECT_EQ(byte_order::loadLittleEndian<float>(asFloat), -9999.0f);

  // Values put into file order and back are unchanged, and their bytes are little-endian.
  double values[] = {-9999.0, 1.0};
  byte_order::toLittleEndian(values, 2);
  EXPECT_EQ(std::memcmp(&values[0], asDouble, 8), 0);
  byte_order::fromLittleEndian(values, 2);
  EXPECT_EQ(values[0], -9999.0);
  EXPECT_EQ(values[1], 1.0);
}

}  // namespace
