// Text to integer with the exact error positions that callers rely on.
#include "parse_integer.h"

#include <cstddef>

namespace hashbin {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

ParsedInteger FailAt(std::size_t index) { return {0, static_cast<std::int32_t>(index + 1)}; }

}  // namespace

ParsedInteger ParseInteger(std::string_view text) {
  const std::size_t length = text.size();
  std::size_t i = 0;
  while (i < length && text[i] == ' ') ++i;
  bool negative = false;
  if (i < length && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == length) return FailAt(length);

  bool hex = false;
  if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
    hex = true;
    ++i;
  } else if (text[i] == '0' && i + 1 < length && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }

  std::uint32_t magnitude = 0;
  if (hex) {
    if (i == length) return FailAt(length + 1);
    for (; i < length; ++i) {
      const int digit = HexDigit(text[i]);
      if (digit < 0 || magnitude > 0x0FFFFFFFu) return FailAt(i);
      magnitude = magnitude * 16 + static_cast<std::uint32_t>(digit);
    }
  } else {
    for (; i < length; ++i) {
      const char c = text[i];
      if (c < '0' || c > '9' || magnitude > 214748364u) return FailAt(i);
      magnitude = magnitude * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (magnitude > (negative ? 2147483648u : 2147483647u)) return FailAt(length);
  }
  if (negative) magnitude = 0u - magnitude;
  return {static_cast<std::int32_t>(magnitude), 0};
}

}  // namespace hashbin
