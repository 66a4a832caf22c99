// The common line read straight from the input buffer: Width numbers of one or two decimal digits
// with a single blank or tab between them, ended by CR LF or LF. Such a line gives the same
// numbers as Width ReadNumber calls and a NextLine; every other line is left to those.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "input_file.h"

namespace hashbin {

// The room a simple line may need from its first byte on: its longest form.
template <std::size_t Width>
constexpr std::ptrdiff_t kSimpleLineRoom = 3 * Width + 1;

// Parses the simple line at `p` into `numbers`; `limit` ends the readable bytes and must be at
// least kSimpleLineRoom<Width> past `p`. Returns the position after its LF, or null for any other
// line. Single tabs may stand for the blanks, and blanks or surplus numbers may follow the last
// number, as long as the LF that ends them is buffered with no end mark before it. (Classifying
// the whole line at once with vector masks was tried: slower for numbers of one and two digits.)
template <std::size_t Width>
inline const std::uint8_t* ParseSimpleLine(const std::uint8_t* p, const std::uint8_t* limit,
                                           std::uint8_t* numbers) {
  // Validity is gathered and tested once at the end; each number moves at most three bytes on,
  // so whatever the bytes, nothing is read past the room. The branch on the digit count is left
  // to the processor to predict: a select would chain every number's position to the loads of
  // the one before.
  bool bad = false;
#pragma GCC unroll 20
  for (std::size_t i = 0; i < Width; ++i) {
    const unsigned first = p[0] - unsigned{'0'};
    const unsigned second = p[1] - unsigned{'0'};
    bad |= first > 9;
    if (second <= 9) {
      numbers[i] = static_cast<std::uint8_t>(first * 10 + second);
      p += 2;
    } else {
      numbers[i] = static_cast<std::uint8_t>(first);
      p += 1;
    }
    if (i + 1 < Width) {
      bad |= (*p != ' ') & (*p != '\t');
      ++p;
    }
  }
  if (bad) return nullptr;
  if (p[0] == '\n') return p + 1;
  if (p[0] == '\r' && p[1] == '\n') return p + 2;
  // The last number must end at a blank; the rest of the line is skipped unread.
  if (p[0] > ' ' || p[0] == kEndMark) return nullptr;
  const std::size_t rest = static_cast<std::size_t>(limit - p);
  const void* lf = std::memchr(p, '\n', rest);
  if (lf == nullptr) return nullptr;
  const auto* end = static_cast<const std::uint8_t*>(lf);
  if (std::memchr(p, kEndMark, static_cast<std::size_t>(end - p)) != nullptr) return nullptr;
  return end + 1;
}

// Reads the next record when it is a simple line buffered in full; returns false, consuming
// nothing, otherwise.
template <std::size_t Width>
bool ReadSimpleRecord(InputFile& in, std::uint8_t* numbers) {
  if (in.limit() - in.cursor() < kSimpleLineRoom<Width>) return false;
  const std::uint8_t* next = ParseSimpleLine<Width>(in.cursor(), in.limit(), numbers);
  if (next == nullptr) return false;
  in.ConsumeTo(next);
  return true;
}

}  // namespace hashbin
