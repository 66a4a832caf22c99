// The numeric syntax: values and the exact error positions of rejected texts.
#include "parse_integer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

namespace hashbin {
namespace {

struct Row {
  std::string_view text;
  std::int32_t value;      // checked only when the text is accepted
  std::int32_t error_pos;  // 0: accepted
};

void CheckRows(std::initializer_list<Row> rows) {
  for (const Row& row : rows) {
    const ParsedInteger parsed = ParseInteger(row.text);
    EXPECT_EQ(parsed.error_pos, row.error_pos) << '"' << row.text << '"';
    if (row.error_pos == 0) {
      EXPECT_EQ(parsed.value, row.value) << '"' << row.text << '"';
    }
  }
}

TEST(ParseIntegerTest, KnownAnswers) {
  CheckRows({
      {"12", 12, 0},
      {"  7", 7, 0},
      {"+7", 7, 0},
      {"-0", 0, 0},
      {"007", 7, 0},
      {"$1F", 31, 0},
      {"x1F", 31, 0},
      {"X1F", 31, 0},
      {"0x1f", 31, 0},
      {"0X1F", 31, 0},
      {"-0x10", -16, 0},
      {"2147483647", 2147483647, 0},
      {"2147483648", 0, 11},
      {"-2147483648", INT32_MIN, 0},
      {"-2147483649", 0, 12},
      {"9999999999", 0, 10},
      {"$FFFFFFFF", -1, 0},
      {"$0FFFFFFFF", -1, 0},
      {"$100000000", 0, 10},
      {"-$FFFFFFFE", 2, 0},
      {"", 0, 1},
      {"  ", 0, 3},
      {"+", 0, 2},
      {"$", 0, 3},
      {"0x", 0, 4},
      {"7 ", 0, 2},
      {"\t7", 0, 1},
      {"- 5", 0, 2},
      {"--5", 0, 2},
      {"12a", 0, 3},
      {"1e3", 0, 2},
      {"00x10", 0, 3},
      {"0$10", 0, 2},
      {"$-10", 0, 2},
      {"0xg", 0, 3},
  });
}

// Around the ends of the decimal range: a digit that arrives while the magnitude is already above
// 214748364 fails at that digit; a last digit that only pushes the value out fails after the text.
TEST(ParseIntegerTest, DecimalBoundaries) {
  CheckRows({
      {"0", 0, 0},
      {"00", 0, 0},
      {"-2147483647", -2147483647, 0},
      {"2147483649", 0, 11},
      {"2147483650", 0, 10},
      {"-2147483650", 0, 11},
      {"21474836470", 0, 11},
      {"214748364", 214748364, 0},
      {"2147483640", 2147483640, 0},
      {"0000000000000000000000000000002147483647", 2147483647, 0},
      {"-000000000002147483648", INT32_MIN, 0},
      {"+2147483648", 0, 12},
  });
}

// Hexadecimal takes any 32-bit pattern; a minus sign negates it modulo 2^32.
TEST(ParseIntegerTest, HexadecimalPatternsAndNegation) {
  CheckRows({
      {"$0", 0, 0},
      {"0x0", 0, 0},
      {"x0", 0, 0},
      {"$80000000", INT32_MIN, 0},
      {"-$80000000", INT32_MIN, 0},
      {"-0x80000000", INT32_MIN, 0},
      {"$7FFFFFFF", 2147483647, 0},
      {"-$7FFFFFFF", -2147483647, 0},
      {"-$FFFFFFFF", 1, 0},
      {"-$1", -1, 0},
      {"$aBcDeF", 0xABCDEF, 0},
      {"$10000000", 0x10000000, 0},
      {"$00000000000000FFFFFFFF", -1, 0},
      {"$FFFFFFFF0", 0, 10},
      {"$1000000000", 0, 10},
      {"0x100000000", 0, 11},
      {"$G", 0, 2},
      {"0x1g", 0, 4},
      {"0xx1", 0, 3},
      {"$$1", 0, 2},
      {"x$1", 0, 2},
      {"$0x1", 0, 3},
  });
}

// Spaces are skipped only at the start, before the sign; everything after must belong to the
// number.
TEST(ParseIntegerTest, SpacesSignsAndPrefixes) {
  CheckRows({
      {"  -5", -5, 0},
      {"   +0x10", 16, 0},
      {"  -$ff", -255, 0},
      {" x7", 7, 0},
      {"-", 0, 2},
      {"x", 0, 3},
      {" ", 0, 2},
      {"  +", 0, 4},
      {"-$", 0, 4},
      {"+0x", 0, 5},
      {"  0X", 0, 6},
      {"-x", 0, 4},
      {"+-5", 0, 2},
      {"-+5", 0, 2},
      {"5-", 0, 2},
      {"-\t5", 0, 2},
      {"1 2", 0, 2},
      {"1\t", 0, 2},
      {"1.0", 0, 2},
      {"1,0", 0, 2},
      {":", 0, 1},
      {"/", 0, 1},
      {"\xEF\xBB\xBF"
       "1",
       0, 1},
  });
}

// A NUL is a character like any other: it does not end the text.
TEST(ParseIntegerTest, EmbeddedNul) {
  CheckRows({
      {std::string_view("1\0", 2), 0, 2},
      {std::string_view("\0"
                        "1",
                        2),
       0, 1},
  });
}

std::string Hex(std::uint32_t value, bool upper) {
  char text[9];
  std::snprintf(text, sizeof text, upper ? "%X" : "%x", value);
  return text;
}

// Round trips against the standard library's own conversions.
TEST(ParseIntegerTest, RoundTripsEveryRange) {
  std::mt19937 random(2718);
  const char* prefixes[] = {"$", "x", "X", "0x", "0X"};
  for (int round = 0; round < 20000; ++round) {
    const std::uint32_t bits = static_cast<std::uint32_t>(random());
    const std::int32_t value = static_cast<std::int32_t>(bits);
    const std::string decimal = std::to_string(value);
    ParsedInteger parsed = ParseInteger(decimal);
    ASSERT_EQ(parsed.error_pos, 0) << decimal;
    ASSERT_EQ(parsed.value, value) << decimal;

    const std::string hex = prefixes[round % 5] + Hex(bits, round % 2 == 0);
    parsed = ParseInteger(hex);
    ASSERT_EQ(parsed.error_pos, 0) << hex;
    ASSERT_EQ(parsed.value, value) << hex;
    parsed = ParseInteger("-" + hex);
    ASSERT_EQ(parsed.error_pos, 0) << "-" << hex;
    ASSERT_EQ(parsed.value, static_cast<std::int32_t>(0u - bits)) << "-" << hex;

    // Ten-digit values above the range, by the same two rules as above.
    const std::uint64_t above = 2147483648ull + random() % (9999999999ull - 2147483648ull);
    const std::string big = std::to_string(above);
    const std::int32_t expected_pos = above / 10 > 214748364 ? 10 : 11;
    parsed = ParseInteger(big);
    ASSERT_EQ(parsed.error_pos, expected_pos) << big;
  }
}

}  // namespace
}  // namespace hashbin
