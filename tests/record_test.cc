// The record functions: bucket numbers, record text, decimal text and the output line.
#include "record.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "crc32.h"
#include "driver.h"
#include "fake_platform.h"

namespace hashbin {
namespace {

std::string Text(const std::vector<std::uint8_t>& record) {
  return RecordText(record.data(), static_cast<std::uint8_t>(record.size()));
}

// The scramble and scaling written out again with 64-bit values masked to 32 bits, and the scale
// as one product: the integer part of x * n / 2^32, plus 1.
std::uint64_t ReferenceBucket(std::uint32_t key, std::uint16_t n) {
  constexpr std::uint64_t kMask = 0xFFFFFFFFull;
  std::uint64_t x = (std::uint64_t{key} + n) & kMask;
  x = (x * 134775813ull + 1ull) & kMask;
  x = (x ^ (x << 17)) & kMask;
  x = x ^ (x >> 13);
  x = (x ^ (x << 5)) & kMask;
  return ((x * n) >> 32) + 1;
}

TEST(BucketOfTest, KnownAnswers) {
  struct Row {
    std::uint32_t key;
    std::uint16_t n;
    std::uint16_t bucket;
  };
  const Row rows[] = {
      {0xFFFFFFFFu, 65535, 7996},
      {1u, 65535, 1128},
      {0x7E0988E1u, 49, 33},
      {0x7E0988E1u, 40000, 29372},  // wrong if N is sign-extended
      {0x7E0988E1u, 100, 64},
      {0x7E0988E1u, 65535, 4672},
      {0xDADFA88Eu, 10, 8},
      {0xDADFA88Eu, 100, 35},
      {0xDADFA88Eu, 65535, 45821},  // wrong with a signed sum or an
                                    // arithmetic shift
      {0xA876201Bu, 2, 1},
      {0xA876201Bu, 100, 43},
      {0xA876201Bu, 65535, 16580},
      {0x76AA08D5u, 65535, 35222},  // wrong with a signed sum or an arithmetic shift
      {0x4E3D5E62u, 49, 42},
      {0x1C759793u, 10, 2},
      {0xF02A6486u, 2, 1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(BucketOf(row.key, row.n), row.bucket)
        << std::hex << "key 0x" << row.key << std::dec << ", N " << row.n;
    EXPECT_EQ(ReferenceBucket(row.key, row.n), row.bucket) << "the reference disagrees";
  }
}

TEST(BucketOfTest, OneBucketOrNoneGivesBucketOne) {
  std::mt19937 random(99);
  const std::uint32_t edges[] = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
  for (std::uint32_t key : edges) {
    EXPECT_EQ(BucketOf(key, 1), 1) << key;
    EXPECT_EQ(BucketOf(key, 0), 1) << key;
  }
  for (int i = 0; i < 10000; ++i) {
    const std::uint32_t key = static_cast<std::uint32_t>(random());
    ASSERT_EQ(BucketOf(key, 1), 1) << key;
    ASSERT_EQ(BucketOf(key, 0), 1) << key;
  }
}

// Every N, with edge keys and random ones: the bucket lies in 1..N and is the single-product
// scaling of the scramble.
TEST(BucketOfTest, EveryNStaysInRangeAndMatchesTheReference) {
  std::mt19937 random(4242);
  const std::uint32_t edges[] = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
  for (std::uint32_t n = 0; n <= 65535; ++n) {
    const std::uint16_t n16 = static_cast<std::uint16_t>(n);
    std::vector<std::uint32_t> keys(std::begin(edges), std::end(edges));
    for (int i = 0; i < 8; ++i) keys.push_back(static_cast<std::uint32_t>(random()));
    for (std::uint32_t key : keys) {
      const std::uint16_t bucket = BucketOf(key, n16);
      ASSERT_EQ(bucket, ReferenceBucket(key, n16)) << "key " << key << ", N " << n;
      ASSERT_GE(bucket, 1);
      if (n != 0) {
        ASSERT_LE(bucket, n) << "key " << key;
      }
    }
  }
}

TEST(RecordTextTest, Examples) {
  EXPECT_EQ(Text({7}), "07");
  EXPECT_EQ(Text({10, 80}), "10 80");
  EXPECT_EQ(Text({}), "");
  EXPECT_EQ(Text({1, 2, 3, 4, 5, 6}), "01 02 03 04 05 06");
  // Outside the game's numbers: two digits where they fit, "??" where they do not.
  EXPECT_EQ(Text({0, 81, 99, 100, 255}), "00 81 99 ?? ??");
  EXPECT_EQ(Text({0, 0, 0, 0, 0, 0}), "00 00 00 00 00 00");
}

TEST(RecordTextTest, LengthIsThreePerNumberLessOne) {
  struct Row {
    std::size_t count;
    std::size_t length;
  };
  const Row rows[] = {{0, 0}, {1, 2}, {6, 17}, {10, 29}, {20, 59}, {255, 764}};
  for (const Row& row : rows) {
    for (std::uint8_t value : {std::uint8_t{1}, std::uint8_t{0}, std::uint8_t{200}}) {
      EXPECT_EQ(Text(std::vector<std::uint8_t>(row.count, value)).size(), row.length)
          << row.count << " times " << int{value};
    }
  }
}

// Every byte value in every place of a record, against text built with printf.
TEST(RecordTextTest, EveryByteValue) {
  for (int value = 0; value < 256; ++value) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%02d", value);
    const std::string slot = value < 100 ? std::string(digits) : "??";
    const std::uint8_t v = static_cast<std::uint8_t>(value);
    EXPECT_EQ(Text({v}), slot);
    EXPECT_EQ(Text({v, 42, 9}), slot + " 42 09");
    EXPECT_EQ(Text({9, v, 42}), "09 " + slot + " 42");
    EXPECT_EQ(Text({42, 9, v}), "42 09 " + slot);
  }
}

TEST(RecordTextTest, AllGameNumbersInOrder) {
  std::vector<std::uint8_t> record;
  std::string expected;
  for (int value = 1; value <= 80; ++value) {
    record.push_back(static_cast<std::uint8_t>(value));
    char digits[8];
    std::snprintf(digits, sizeof digits, "%02d", value);
    if (value > 1) expected += ' ';
    expected += digits;
  }
  EXPECT_EQ(Text(record), expected);
}

TEST(AppendDecimalTest, DigitsWithoutLeadingZeros) {
  std::mt19937 random(5);
  std::vector<std::uint32_t> values = {0,          1,          9,           10,    99,
                                       100,        999999999,  4000000000u, 32768, 65535,
                                       1000000000, 2147483648, 4294967295u};
  for (int i = 0; i < 1000; ++i) values.push_back(static_cast<std::uint32_t>(random()));
  for (std::uint32_t value : values) {
    std::string buffer(12, '#');
    char* end = AppendDecimal(buffer.data(), value);
    const std::string expected = std::to_string(value);
    ASSERT_EQ(std::string(buffer.data(), end), expected);
    // Nothing is written past the digits.
    ASSERT_EQ(buffer.substr(expected.size()), std::string(12 - expected.size(), '#')) << value;
  }
}

// Writes the line into a buffer of exactly the room the header asks for, so that a write past it
// is caught by the sanitizers, and checks that the room after the line is untouched.
std::string Line(const std::vector<std::uint8_t>& record, std::uint16_t bucket) {
  const std::size_t room = MaxRecordLine(record.size()) + kRecordLineSlack;
  std::vector<char> buffer(room);
  char* end = AppendRecordLine(buffer.data(), record.data(), record.size(), bucket);
  EXPECT_LE(end - buffer.data(), static_cast<std::ptrdiff_t>(room));
  return std::string(buffer.data(), end);
}

TEST(AppendRecordLineTest, EqualsTextSeparatorBucketAndLineEnd) {
  std::mt19937 random(77);
  for (int round = 0; round < 5000; ++round) {
    const std::size_t count = round < 256 ? static_cast<std::size_t>(round) : random() % 32;
    std::vector<std::uint8_t> record(count);
    const bool any_byte = round % 3 == 0;
    for (std::uint8_t& byte : record) {
      byte = static_cast<std::uint8_t>(any_byte ? random() % 256 : 1 + random() % 80);
    }
    const std::uint16_t buckets[] = {1, 9, 10, 65535, static_cast<std::uint16_t>(random())};
    const std::uint16_t bucket = buckets[round % 5];
    const std::string expected = Text(record) + " / " + std::to_string(bucket) + "\r\n";
    const std::string line = Line(record, bucket);
    ASSERT_EQ(line, expected) << "round " << round << ", count " << count;
    if (count != 0) {
      ASSERT_LE(line.size(), MaxRecordLine(count));
    }
  }
}

// The records of the worked examples, each with its key, bucket and output line.
struct WholeRecord {
  std::vector<std::uint8_t> record;
  std::uint16_t n;
  std::uint32_t key;
  std::uint16_t bucket;
  std::string line;  // without its CR LF
};

std::vector<std::uint8_t> Ascending(std::size_t count) {
  std::vector<std::uint8_t> record(count);
  for (std::size_t i = 0; i < count; ++i) record[i] = static_cast<std::uint8_t>(i + 1);
  return record;
}

const std::vector<WholeRecord>& WholeRecords() {
  static const std::vector<WholeRecord> rows = {
      {Ascending(6), 49, 0x7E0988E1u, 33, "01 02 03 04 05 06 / 33"},
      {Ascending(6), 40000, 0x7E0988E1u, 29372, "01 02 03 04 05 06 / 29372"},
      {Ascending(6), 100, 0x7E0988E1u, 64, "01 02 03 04 05 06 / 64"},
      {Ascending(10), 10, 0xDADFA88Eu, 8, "01 02 03 04 05 06 07 08 09 10 / 8"},
      {Ascending(10), 65535, 0xDADFA88Eu, 45821, "01 02 03 04 05 06 07 08 09 10 / 45821"},
      {Ascending(10), 100, 0xDADFA88Eu, 35, "01 02 03 04 05 06 07 08 09 10 / 35"},
      {Ascending(20), 2, 0xA876201Bu, 1,
       "01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16 17 18 19 20 / 1"},
      {Ascending(20), 65535, 0xA876201Bu, 16580,
       "01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16 17 18 19 20 / 16580"},
      {Ascending(20), 100, 0xA876201Bu, 43,
       "01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16 17 18 19 20 / 43"},
      {std::vector<std::uint8_t>(20, 80), 65535, 0x76AA08D5u, 35222,
       "80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 / 35222"},
      {std::vector<std::uint8_t>(6, 0), 49, 0x4E3D5E62u, 42, "00 00 00 00 00 00 / 42"},
      {std::vector<std::uint8_t>(10, 0), 10, 0x1C759793u, 2, "00 00 00 00 00 00 00 00 00 00 / 2"},
      {std::vector<std::uint8_t>(20, 0), 2, 0xF02A6486u, 1,
       "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 / 1"},
  };
  return rows;
}

TEST(WholeRecordTest, KeyBucketAndLine) {
  for (const WholeRecord& row : WholeRecords()) {
    SCOPED_TRACE(row.line);
    const std::uint32_t key =
        CalcCRC32(row.record.data(), static_cast<std::int32_t>(row.record.size()));
    EXPECT_EQ(key, row.key);
    EXPECT_EQ(BucketOf(key, row.n), row.bucket);
    EXPECT_EQ(Text(row.record) + " / " + std::to_string(row.bucket), row.line);
    EXPECT_EQ(Line(row.record, row.bucket), row.line + "\r\n");
  }
}

// The same records through the whole tool, which uses its own per-width key and line writer.
TEST(WholeRecordTest, ToolWritesTheLine) {
  for (const WholeRecord& row : WholeRecords()) {
    SCOPED_TRACE(row.line);
    std::string input;
    for (std::uint8_t value : row.record) {
      if (!input.empty()) input += ' ';
      input += std::to_string(value);
    }
    input += "\r\n";
    FakePlatform fake;
    fake.files["in.txt"].content = input;
    const std::string n = std::to_string(row.n);
    const std::string_view args[] = {"in.txt", "out.txt", n};
    EXPECT_EQ(RunTool(row.record.size(), args, fake), 0) << fake.standard_error;
    EXPECT_EQ(fake.Content("out.txt"), row.line + "\r\n");
  }
}

}  // namespace
}  // namespace hashbin
