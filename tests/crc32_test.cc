// The record key: the checksum table, the byte-at-a-time key and the per-position record key.
#include "crc32.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "record_key.h"

namespace hashbin {
namespace {

const std::uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

// The reflected CRC-32 worked out one bit at a time, without any table: the register before the
// length is added, starting from all ones and not inverted at the end.
std::uint32_t BitwiseRegister(const std::uint8_t* data, std::size_t size) {
  std::uint32_t reg = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    reg ^= data[i];
    for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
  }
  return reg;
}

std::uint32_t BitwiseKey(const std::uint8_t* data, std::size_t size) {
  const std::uint32_t key = BitwiseRegister(data, size) + static_cast<std::uint32_t>(size);
  return key == 0 ? 1u : key;
}

std::uint32_t Reflect(std::uint32_t value, int bits) {
  std::uint32_t out = 0;
  for (int i = 0; i < bits; ++i) out |= ((value >> i) & 1u) << (bits - 1 - i);
  return out;
}

TEST(CRC32TableTest, KnownEntries) {
  EXPECT_EQ(CRC32Table[0], 0u);
  EXPECT_EQ(CRC32Table[1], 0x77073096u);
  EXPECT_EQ(CRC32Table[255], 0x2D02EF8Du);
}

// Derived the other way round from the reflected table: the most-significant-bit-first table of
// the unreflected polynomial 0x04C11DB7, with index and entry bit-reversed.
TEST(CRC32TableTest, EveryEntryIsTheReflectedPolynomialDivision) {
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = Reflect(i, 8) << 24;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 0x80000000u) ? (value << 1) ^ 0x04C11DB7u : value << 1;
    }
    EXPECT_EQ(CRC32Table[i], Reflect(value, 32)) << "entry " << i;
  }
}

TEST(CalcCRC32Test, KnownAnswers) {
  const std::string check = "123456789";
  // The standard CRC-32 check value of these nine characters is 0xCBF43926.
  EXPECT_EQ(~BitwiseRegister(Bytes(check), check.size()), 0xCBF43926u);
  EXPECT_EQ(CalcCRC32(Bytes(check), 9), 0x340BC6E2u);

  const std::string abc = "abc";
  EXPECT_EQ(CalcCRC32(Bytes(abc), 3), 0xCADBBE40u);
}

// Only the first `length` bytes count, whatever follows them.
TEST(CalcCRC32Test, ReadsExactlyLengthBytes) {
  const std::string longer = "123456789 and more";
  EXPECT_EQ(CalcCRC32(Bytes(longer), 9), 0x340BC6E2u);
  const std::string one = "1";
  EXPECT_EQ(CalcCRC32(Bytes(one), 1), BitwiseKey(Bytes(one), 1));
}

// A length of 0 or less reads nothing: a null buffer must not be touched.
TEST(CalcCRC32Test, NonPositiveLengthReadsNoByte) {
  EXPECT_EQ(CalcCRC32(nullptr, 0), 0xFFFFFFFFu);
  EXPECT_EQ(CalcCRC32(nullptr, -1), 0xFFFFFFFEu);
  EXPECT_EQ(CalcCRC32(nullptr, -100), 0xFFFFFFFFu - 100u);
  // All ones plus the most negative length, modulo 2^32.
  EXPECT_EQ(CalcCRC32(nullptr, INT32_MIN), 0x7FFFFFFFu);
}

// These four bytes leave the register at 0xFFFFFFFC; adding the length 4 wraps to 0, which is
// never a key.
TEST(CalcCRC32Test, SumOfZeroBecomesOne) {
  const std::array<std::uint8_t, 4> wrap = {0x1F, 0x06, 0x3B, 0xDB};
  EXPECT_EQ(BitwiseRegister(wrap.data(), wrap.size()), 0xFFFFFFFCu);
  EXPECT_EQ(CalcCRC32(wrap.data(), 4), 1u);
}

TEST(CalcCRC32Test, MatchesTheBitwiseDefinitionOnRandomBuffers) {
  std::mt19937 random(20240601);
  std::vector<std::uint8_t> buffer(300);
  for (int round = 0; round < 2000; ++round) {
    for (std::uint8_t& byte : buffer) byte = static_cast<std::uint8_t>(random());
    const std::size_t size = random() % buffer.size();
    ASSERT_EQ(CalcCRC32(buffer.data(), static_cast<std::int32_t>(size)),
              BitwiseKey(buffer.data(), size))
        << "round " << round << ", " << size << " bytes";
  }
}

// Bytes that make the register end at `target` after `prefix`: four more bytes can reach any
// register, because after four steps only the four table indices matter and the top byte of a
// table entry names its index.
std::vector<std::uint8_t> ForgeRegister(std::vector<std::uint8_t> prefix, std::uint32_t target) {
  std::array<int, 256> index_of_top{};
  for (int i = 0; i < 256; ++i) index_of_top[CRC32Table[i] >> 24] = i;
  std::array<std::uint32_t, 4> index{};
  std::uint32_t rest = target;
  for (int k = 3; k >= 0; --k) {
    index[k] = static_cast<std::uint32_t>(index_of_top[rest >> 24]);
    rest = (rest ^ CRC32Table[index[k]]) << 8;
  }
  std::uint32_t reg = BitwiseRegister(prefix.data(), prefix.size());
  for (std::uint32_t i : index) {
    prefix.push_back(static_cast<std::uint8_t>((reg ^ i) & 0xFFu));
    reg = CRC32Table[i] ^ (reg >> 8);
  }
  return prefix;
}

// One record of a given width and the key it must have.
struct KeyRow {
  std::vector<std::uint8_t> record;
  std::uint32_t key;
};

std::vector<std::uint8_t> Ascending(std::size_t count) {
  std::vector<std::uint8_t> record(count);
  for (std::size_t i = 0; i < count; ++i) record[i] = static_cast<std::uint8_t>(i + 1);
  return record;
}

std::vector<KeyRow> KnownKeys(std::size_t width) {
  std::vector<KeyRow> rows;
  switch (width) {
    case 6:
      rows.push_back({Ascending(6), 0x7E0988E1u});
      rows.push_back({std::vector<std::uint8_t>(6, 0), 0x4E3D5E62u});
      break;
    case 10:
      rows.push_back({Ascending(10), 0xDADFA88Eu});
      rows.push_back({std::vector<std::uint8_t>(10, 0), 0x1C759793u});
      break;
    case 20:
      rows.push_back({Ascending(20), 0xA876201Bu});
      rows.push_back({std::vector<std::uint8_t>(20, 80), 0x76AA08D5u});
      rows.push_back({std::vector<std::uint8_t>(20, 0), 0xF02A6486u});
      break;
  }
  // A record whose register plus its length wraps to 0.
  std::vector<std::uint8_t> prefix(width - 4);
  for (std::size_t i = 0; i < prefix.size(); ++i) prefix[i] = static_cast<std::uint8_t>(7 * i + 3);
  std::vector<std::uint8_t> wrap = ForgeRegister(prefix, 0u - static_cast<std::uint32_t>(width));
  rows.push_back({wrap, 1u});
  return rows;
}

template <std::size_t W>
struct Width {
  static constexpr std::size_t value = W;
};

template <typename T>
class RecordKeyTest : public ::testing::Test {};

using RecordWidths = ::testing::Types<Width<6>, Width<10>, Width<20>>;
TYPED_TEST_SUITE(RecordKeyTest, RecordWidths);

TYPED_TEST(RecordKeyTest, KnownAnswers) {
  constexpr std::size_t kWidth = TypeParam::value;
  for (const KeyRow& row : KnownKeys(kWidth)) {
    ASSERT_EQ(row.record.size(), kWidth);
    SCOPED_TRACE(::testing::PrintToString(row.record));
    EXPECT_EQ(BitwiseKey(row.record.data(), kWidth), row.key);
    EXPECT_EQ(CalcCRC32(row.record.data(), static_cast<std::int32_t>(kWidth)), row.key);
    EXPECT_EQ(RecordKey<kWidth>(row.record.data()), row.key);
  }
}

// Every entry of every position's table is used: each position takes each byte value once, on
// top of a random rest of the record.
TYPED_TEST(RecordKeyTest, EveryPositionAndByteValueMatchesCalcCRC32) {
  constexpr std::size_t kWidth = TypeParam::value;
  std::mt19937 random(7 + kWidth);
  std::array<std::uint8_t, kWidth> record{};
  for (std::size_t position = 0; position < kWidth; ++position) {
    for (int value = 0; value < 256; ++value) {
      for (std::uint8_t& byte : record) byte = static_cast<std::uint8_t>(random());
      record[position] = static_cast<std::uint8_t>(value);
      ASSERT_EQ(RecordKey<kWidth>(record.data()),
                CalcCRC32(record.data(), static_cast<std::int32_t>(kWidth)))
          << "position " << position << ", value " << value;
    }
  }
}

TYPED_TEST(RecordKeyTest, RandomRecordsMatchCalcCRC32) {
  constexpr std::size_t kWidth = TypeParam::value;
  std::mt19937 random(12345);
  std::array<std::uint8_t, kWidth> record{};
  for (int round = 0; round < 100000; ++round) {
    // Mostly numbers of the game, sometimes any byte.
    const bool any_byte = round % 4 == 0;
    for (std::uint8_t& byte : record) {
      byte = static_cast<std::uint8_t>(any_byte ? random() % 256 : 1 + random() % 80);
    }
    const std::uint32_t expected = CalcCRC32(record.data(), static_cast<std::int32_t>(kWidth));
    ASSERT_EQ(RecordKey<kWidth>(record.data()), expected) << "round " << round;
    if (round % 1000 == 0) {
      ASSERT_EQ(BitwiseKey(record.data(), kWidth), expected);
    }
  }
}

}  // namespace
}  // namespace hashbin
