// The checksum module: a reflected CRC-32 (polynomial 0xEDB88320) keyed for records.
#pragma once

#include <array>
#include <cstdint>

namespace hashbin {

constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320u;

constexpr std::array<std::uint32_t, 256> MakeCRC32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = i;
    for (int step = 0; step < 8; ++step) {
      value = (value & 1u) ? (value >> 1) ^ kCrc32Polynomial : value >> 1;
    }
    table[i] = value;
  }
  return table;
}

inline constexpr std::array<std::uint32_t, 256> CRC32Table = MakeCRC32Table();

// One byte step of the register; linear in the register and in the byte.
constexpr std::uint32_t Crc32Step(std::uint32_t reg, std::uint8_t byte) {
  return CRC32Table[(reg ^ byte) & 0xFFu] ^ (reg >> 8);
}

// The record key of `length` bytes: the register starts at all ones and is not inverted at the
// end, then the length is added (two's complement, wrapping). A sum of 0 becomes 1, so a key is
// never 0. A length of 0 or less reads no byte.
std::uint32_t CalcCRC32(const std::uint8_t* buffer, std::int32_t length);

}  // namespace hashbin
