// The record text.
#include "record.h"

#include <cstring>

namespace hashbin {

std::string RecordText(const std::uint8_t* bytes, std::uint8_t count) {
  std::string text;
  if (count == 0) return text;
  text.resize(static_cast<std::size_t>(count) * kNumberTextSlot);
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(&text[i * kNumberTextSlot], &NumberText[bytes[i] * kNumberTextSlot],
                kNumberTextSlot);
  }
  text.pop_back();  // the blank after the last number
  return text;
}

}  // namespace hashbin
