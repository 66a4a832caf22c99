// The numeric syntax of the tool: decimal or hexadecimal 32-bit integers with an optional sign.
#pragma once

#include <cstdint>
#include <string_view>

namespace hashbin {

struct ParsedInteger {
  std::int32_t value = 0;
  // 0 when the whole text was accepted; otherwise the 1-based position of the failure (the text's
  // length + 1 when it ends before a digit or the value is out of range, + 2 after a bare "$").
  std::int32_t error_pos = 0;
};

// Accepts leading spaces, one sign, then decimal digits or "$", "x", "X", "0x", "0X" and hex
// digits. Decimal covers exactly the signed 32-bit range; hexadecimal takes any 32-bit pattern
// as two's complement, and a minus sign negates it modulo 2^32. The value is 0 on failure.
ParsedInteger ParseInteger(std::string_view text);

}  // namespace hashbin
