// The record key of a fixed-width record with one table per position: one lookup and one XOR per
// number instead of a chain of dependent byte steps.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crc32.h"

namespace hashbin {

// The CRC register is linear: after W bytes it is L^W(all ones) XOR, for each position i, the
// table entry of byte i carried through the W - 1 - i zero steps that follow it.
template <std::size_t Width>
struct RecordKeyTables {
  std::uint32_t start = 0;
  std::array<std::array<std::uint32_t, 256>, Width> at{};
};

template <std::size_t Width>
constexpr RecordKeyTables<Width> MakeRecordKeyTables() {
  RecordKeyTables<Width> tables;
  std::uint32_t start = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < Width; ++i) start = Crc32Step(start, 0);
  tables.start = start;
  for (std::size_t b = 0; b < 256; ++b) {
    std::uint32_t value = CRC32Table[b];
    for (std::size_t i = Width; i-- > 0;) {
      tables.at[i][b] = value;
      value = Crc32Step(value, 0);
    }
  }
  return tables;
}

template <std::size_t Width>
inline constexpr RecordKeyTables<Width> kRecordKeyTables = MakeRecordKeyTables<Width>();

// Equal to CalcCRC32(numbers, Width) for every record.
template <std::size_t Width>
inline std::uint32_t RecordKey(const std::uint8_t* numbers) {
  const auto& tables = kRecordKeyTables<Width>;
  std::uint32_t reg = tables.start;
#pragma GCC unroll 20
  for (std::size_t i = 0; i < Width; ++i) reg ^= tables.at[i][numbers[i]];
  const std::uint32_t key = reg + static_cast<std::uint32_t>(Width);
  return key == 0 ? 1u : key;
}

}  // namespace hashbin
