// Numbers as text, written without printf.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "core/text.h"

namespace tessaloom::test {
namespace {

TEST(Text, NumbersInDecimalAndHexadecimalWithLeadingZeros) {
    EXPECT_EQ(DecimalText(0), L"0");
    EXPECT_EQ(DecimalText(-42), L"-42");
    EXPECT_EQ(DecimalText(7, 3), L"007");
    EXPECT_EQ(DecimalText(2024, 2), L"2024");
    EXPECT_EQ(DecimalText(std::numeric_limits<std::int64_t>::min()), L"-9223372036854775808");
    EXPECT_EQ(DecimalText(4294967295LL), L"4294967295");
    EXPECT_EQ(HexText(0, 8), L"00000000");
    EXPECT_EQ(HexText(0xCBF29CE484222325ULL, 16), L"CBF29CE484222325");
    EXPECT_EQ(HexText(0xABC), L"ABC");
}

}  // namespace
}  // namespace tessaloom::test
