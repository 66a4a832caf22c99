// Random sorted draws for the benchmarks: one deterministic source for the generator and the
// micro-benchmarks, so that both measure the same kind of input.
#pragma once

#include <cstdint>

namespace hashbin_bench {

// splitmix64: tiny, fast and fully determined by its seed.
struct SplitMix64 {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  // 0..bound-1 by multiply-shift; for bounds this small the bias is far below anything measurable.
  unsigned Below(unsigned bound) { return static_cast<unsigned>(((Next() >> 32) * bound) >> 32); }
};

constexpr unsigned kMaxDrawValue = 128;  // a draw keeps its numbers in a 128-bit set

// Draws `width` distinct numbers of 1..`max` (width <= max <= kMaxDrawValue) and stores them in
// ascending order.
inline void Draw(SplitMix64& random, unsigned width, unsigned max, std::uint8_t* numbers) {
  std::uint64_t set[2] = {0, 0};
  for (unsigned drawn = 0; drawn < width;) {
    const unsigned value = random.Below(max);  // the number minus one
    std::uint64_t& word = set[value >> 6];
    const std::uint64_t bit = std::uint64_t{1} << (value & 63);
    if ((word & bit) == 0) {
      word |= bit;
      ++drawn;
    }
  }
  for (unsigned half = 0; half < 2; ++half) {
    for (std::uint64_t rest = set[half]; rest != 0; rest &= rest - 1) {
      *numbers++ = static_cast<std::uint8_t>(half * 64 + __builtin_ctzll(rest) + 1);
    }
  }
}

// The longest line AppendDrawLine writes for `width` numbers.
constexpr unsigned MaxDrawLine(unsigned width) { return 4 * width + 1; }

// One line as a user's file holds it: plain decimal without leading zeros, single blanks between
// the numbers, CR LF or LF at the end. Returns the end.
inline char* AppendDrawLine(char* out, const std::uint8_t* numbers, unsigned width, bool crlf) {
  for (unsigned i = 0; i < width; ++i) {
    const unsigned number = numbers[i];
    if (i != 0) *out++ = ' ';
    if (number >= 100) *out++ = static_cast<char>('0' + number / 100);
    if (number >= 10) *out++ = static_cast<char>('0' + number / 10 % 10);
    *out++ = static_cast<char>('0' + number % 10);
  }
  if (crlf) *out++ = '\r';
  *out++ = '\n';
  return out;
}

// The default ball count of a width: 6 of 49, otherwise 80.
constexpr unsigned DefaultMax(unsigned width) { return width == 6 ? 49 : 80; }

}  // namespace hashbin_bench
