// The record text, the decimal bucket number and the output line.
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

char* AppendDecimal(char* out, std::uint32_t value) {
  char digits[10];
  char* p = digits + sizeof digits;
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  const std::size_t length = static_cast<std::size_t>(digits + sizeof digits - p);
  std::memcpy(out, p, length);
  return out + length;
}

char* AppendRecordLine(char* out, const std::uint8_t* numbers, std::size_t count,
                       std::uint16_t bucket) {
  if (count == 0) {
    *out++ = ' ';
  } else {
    // Four-byte copies overlap by one; the blank of the last slot is the blank before the slash.
    for (std::size_t i = 0; i < count; ++i) {
      std::memcpy(out, &NumberText[numbers[i] * kNumberTextSlot], 4);
      out += kNumberTextSlot;
    }
  }
  out[0] = '/';
  out[1] = ' ';
  out = AppendDecimal(out + 2, bucket);
  out[0] = '\r';
  out[1] = '\n';
  return out + 2;
}

}  // namespace hashbin
