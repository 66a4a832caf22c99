// The record functions: the text of a record, its bucket number and the output line built of both.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace hashbin {

constexpr int kNumberTextSlot = 3;  // two digits and a blank

constexpr std::array<char, 256 * kNumberTextSlot + 1> MakeNumberText() {
  std::array<char, 256 * kNumberTextSlot + 1> text{};
  for (int value = 0; value < 256; ++value) {
    char* slot = &text[static_cast<std::size_t>(value) * kNumberTextSlot];
    // The game's numbers are 1..80; other values keep two digits where they have two, so that
    // a record's text always has three characters per number. 100..255 cannot be shown in two.
    if (value < 100) {
      slot[0] = static_cast<char>('0' + value / 10);
      slot[1] = static_cast<char>('0' + value % 10);
    } else {
      slot[0] = '?';
      slot[1] = '?';
    }
    slot[2] = ' ';
  }
  text[256 * kNumberTextSlot] = ' ';  // lets the line writer copy four bytes from the last slot
  return text;
}

// Three characters per byte value, back to back, indexed by the value itself: "00 ", "01 ", ...
// "99 ", then "?? " for 100..255.
inline constexpr std::array<char, 256 * kNumberTextSlot + 1> NumberText = MakeNumberText();

// The numbers of a record as two-character texts separated by single blanks: 3 * count - 1
// characters, or none for a count of 0.
std::string RecordText(const std::uint8_t* bytes, std::uint8_t count);

// Scrambles the key with N (so that a change of N moves the seed, not only the scale) and scales
// it into 1..N without division: the integer part of x * N / 2^32, plus 1. N = 0 gives 1.
constexpr std::uint16_t BucketOf(std::uint32_t key, std::uint16_t n) {
  const std::uint32_t n32 = n;
  std::uint32_t x = key + n32;
  x = x * 134775813u + 1u;
  x ^= x << 17;
  x ^= x >> 13;
  x ^= x << 5;
  const std::uint32_t high = (x >> 16) * n32;
  const std::uint32_t low = ((x & 0xFFFFu) * n32) >> 16;
  return static_cast<std::uint16_t>(((high + low) >> 16) + 1u);
}

// The longest output line of a record of `count` numbers, and the spare byte the writer needs.
constexpr std::size_t MaxRecordLine(std::size_t count) {
  const std::size_t text = count == 0 ? 0 : 3 * count - 1;
  return text + 3 + 5 + 2;  // " / ", five digits, CR LF
}
constexpr std::size_t kRecordLineSlack = 1;

// Writes the decimal digits of `value`, without sign or leading zeros; returns the end.
inline char* AppendDecimal(char* out, std::uint32_t value) {
  std::size_t digits = 1;
  for (std::uint32_t bound = 10; digits < 10 && value >= bound; bound *= 10) ++digits;
  char* const end = out + digits;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return end;
}

// The numbers' slots of an output line, the blank after the last one included (a lone blank for
// no numbers); returns where the slash goes. Four-byte copies overlap by one, so `out` needs one
// spare byte.
inline char* AppendNumbersText(char* out, const std::uint8_t* numbers, std::size_t count) {
  if (count == 0) {
    *out = ' ';
    return out + 1;
  }
#pragma GCC unroll 20
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(out, &NumberText[numbers[i] * kNumberTextSlot], 4);
    out += kNumberTextSlot;
  }
  return out;
}

// A bucket number's digits and CR LF, in eight bytes of which the last holds how many are used.
// A run makes the text of each of its buckets once, so that every line copies one.
constexpr std::size_t kBucketTextSize = 8;

inline void MakeBucketText(char* text, std::uint16_t bucket) {
  char* end = AppendDecimal(text, bucket);
  end[0] = '\r';
  end[1] = '\n';
  const std::size_t length = static_cast<std::size_t>(end + 2 - text);
  std::memset(text + length, 0, kBucketTextSize - length);
  text[kBucketTextSize - 1] = static_cast<char>(length);
}

// Writes "/ ", the bucket's digits and CR LF; copies all eight bytes, so `out` needs one spare
// byte past the line.
inline char* AppendBucketText(char* out, const char* text) {
  out[0] = '/';
  out[1] = ' ';
  std::memcpy(out + 2, text, kBucketTextSize);
  return out + 2 + text[kBucketTextSize - 1];
}

// Writes one output line: the record text, " / ", the bucket number and CR LF. `out` must have
// room for MaxRecordLine(count) + kRecordLineSlack bytes; returns the end of the line.
inline char* AppendRecordLine(char* out, const std::uint8_t* numbers, std::size_t count,
                              std::uint16_t bucket) {
  char text[kBucketTextSize];
  MakeBucketText(text, bucket);
  return AppendBucketText(AppendNumbersText(out, numbers, count), text);
}

}  // namespace hashbin
