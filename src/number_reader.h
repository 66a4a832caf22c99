// Reading records of numbers from the input: blanks separate tokens, tokens are at most 32
// characters, a line ends at LF (a lone CR does not end a line) and Ctrl-Z ends the input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "input_file.h"

namespace hashbin {

constexpr std::size_t kMaxToken = 32;

// Bytes 0..32 except the end mark separate tokens; 33..255 make them up.
constexpr bool IsBlank(int c) { return c <= 32; }

// Skips blanks and converts the next token (a longer run of token characters is cut into
// 32-character pieces). 0 at the end of the input; a token that is not a number makes the
// pending error kInvalidNumericInput.
std::int32_t ReadNumber(InputFile& in);

// Consumes everything up to and including the next LF, or up to the end of the input.
void NextLine(InputFile& in);

// True when nothing is left: the physical end, an end mark, or a read that has just failed.
inline bool AtInputEnd(InputFile& in) { return in.Peek() == kEndOfInput; }

// The common line, read straight from the buffer: Width numbers of one or two decimal digits
// separated by single blanks and ended by CR LF or LF, all of it already buffered. Gives the same
// numbers as Width ReadNumber calls and a NextLine; returns false, consuming nothing, for any
// other line.
template <std::size_t Width>
bool ReadSimpleRecord(InputFile& in, std::uint8_t* numbers) {
  const std::uint8_t* p = in.cursor();
  // Room for the longest simple line, so that no check inside runs past the buffer.
  if (in.limit() - p < static_cast<std::ptrdiff_t>(3 * Width + 1)) return false;
  // Branch-free over the numbers: one and two digits mix unpredictably. Whatever the bytes,
  // each number moves at most three bytes on, so nothing is read past the room checked above.
  bool bad = false;
  for (std::size_t i = 0; i < Width; ++i) {
    const unsigned first = p[0] - unsigned{'0'};
    const unsigned second = p[1] - unsigned{'0'};
    const bool two_digits = second <= 9;
    bad |= first > 9;
    numbers[i] = static_cast<std::uint8_t>(two_digits ? first * 10 + second : first);
    p += two_digits ? 2 : 1;
    if (i + 1 < Width) {
      bad |= *p != ' ';
      ++p;
    }
  }
  if (bad) return false;
  if (p[0] == '\n') {
    p += 1;
  } else if (p[0] == '\r' && p[1] == '\n') {
    p += 2;
  } else {
    return false;
  }
  in.ConsumeTo(p);
  return true;
}

}  // namespace hashbin
