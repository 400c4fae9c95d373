#include "driver/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(OutputEncoding, SingleAndDoubleFromTheFirstCharacterAfterTheFirstColon) {
  for (const char* option : {"-f:s", "-f:single", "x-f:s", "-f:s-f:d"})
    EXPECT_EQ(outputEncodingFromOption(option), GridEncoding::single) << option;
  for (const char* option : {"-f:d", "-f:dbl", "x:d-f:"})
    EXPECT_EQ(outputEncodingFromOption(option), GridEncoding::double_precision) << option;
}

TEST(OutputEncoding, EverythingElseIsText) {
  for (const char* option : {"", "-f:t", "-f:", "-f:S", "-F:s", "-fs", "s", "a:b-f:d", "-f:D",
                             "d", ":d"})
    EXPECT_EQ(outputEncodingFromOption(option), GridEncoding::text) << option;
}

}  // namespace
