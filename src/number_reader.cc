// The character-at-a-time reader that defines what every faster path must match.
#include "number_reader.h"

#include <cstring>

#include "parse_integer.h"

namespace hashbin {

std::int32_t ReadNumber(InputFile& in) {
  int c;
  while ((c = in.Peek()) != kEndOfInput && IsBlank(c)) in.Advance();
  if (c == kEndOfInput) return 0;
  char token[kMaxToken];
  std::size_t length = 0;
  do {
    token[length++] = static_cast<char>(c);
    in.Advance();
    // A full token stops before the next character is even looked at.
  } while (length < kMaxToken && (c = in.Peek()) != kEndOfInput && !IsBlank(c));
  const ParsedInteger parsed = ParseInteger({token, length});
  if (parsed.error_pos != 0) in.SetError(kInvalidNumericInput);
  return parsed.value;
}

void NextLine(InputFile& in) {
  while (in.Peek() != kEndOfInput) {
    // Skip the buffered stretch up to the line end or the end mark in one scan.
    const std::uint8_t* from = in.cursor();
    const std::size_t size = static_cast<std::size_t>(in.limit() - from);
    const void* lf = std::memchr(from, '\n', size);
    const std::size_t span =
        lf ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(lf) - from) : size;
    if (const void* mark = std::memchr(from, kEndMark, span)) {
      in.ConsumeTo(static_cast<const std::uint8_t*>(mark));
      return;
    }
    if (lf) {
      in.ConsumeTo(from + span + 1);
      return;
    }
    in.ConsumeTo(from + size);
  }
}

}  // namespace hashbin
