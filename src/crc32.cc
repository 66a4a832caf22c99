// The plain byte-at-a-time record key; the reference that every faster key is tested against.
#include "crc32.h"

namespace hashbin {

std::uint32_t CalcCRC32(const std::uint8_t* buffer, std::int32_t length) {
  std::uint32_t reg = 0xFFFFFFFFu;
  for (std::int32_t i = 0; i < length; ++i) reg = Crc32Step(reg, buffer[i]);
  // Unsigned addition wraps exactly as the two's-complement sum does.
  const std::uint32_t key = reg + static_cast<std::uint32_t>(length);
  return key == 0 ? 1u : key;
}

}  // namespace hashbin
