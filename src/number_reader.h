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

}  // namespace hashbin
