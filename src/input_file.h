// The buffered input: one character at a time with one of look-ahead, refilled one system read
// at a time, with the Ctrl-Z end mark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "io_state.h"
#include "platform.h"

namespace hashbin {

constexpr int kEndOfInput = -1;
constexpr std::uint8_t kEndMark = 26;  // Ctrl-Z: the input ends at this byte, which stays unread

class InputFile {
 public:
  // `before_wait` runs before a read that would have to wait for more data, so that whatever the
  // run holds can reach its reader first. Only inputs that can make a read wait ask for it.
  InputFile(Platform& platform, FileHandle file, IoState& io, char* buffer, std::size_t capacity,
            bool may_wait, std::function<void()> before_wait);

  // The next byte without consuming it, or kEndOfInput at the physical end, at an end mark and
  // after a failed read. A failed read is not final: the next Peek asks the system again.
  int Peek() {
    if (pos_ < end_) return buffer_[pos_] == kEndMark ? kEndOfInput : buffer_[pos_];
    return Refill();
  }
  void Advance() { ++pos_; }

  // The bytes already buffered, for readers that scan ahead; ConsumeTo moves past them.
  const std::uint8_t* cursor() const { return buffer_ + pos_; }
  const std::uint8_t* limit() const { return buffer_ + end_; }
  void ConsumeTo(const std::uint8_t* p) { pos_ = static_cast<std::size_t>(p - buffer_); }

  void SetError(int code) { io_.pending = code; }

  // Closes the file; a failure becomes the pending error.
  void Close();

 private:
  int Refill();

  Platform& platform_;
  FileHandle file_;
  IoState& io_;
  std::uint8_t* buffer_;
  std::size_t capacity_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool at_physical_end_ = false;
  bool may_wait_;
  std::function<void()> before_wait_;
};

}  // namespace hashbin
