// Refilling the input buffer.
#include "input_file.h"

#include <utility>

namespace hashbin {

InputFile::InputFile(Platform& platform, FileHandle file, IoState& io, char* buffer,
                     std::size_t capacity, bool may_wait, std::function<void()> before_wait)
    : platform_(platform),
      file_(file),
      io_(io),
      buffer_(reinterpret_cast<std::uint8_t*>(buffer)),
      capacity_(capacity),
      may_wait_(may_wait),
      before_wait_(std::move(before_wait)) {}

int InputFile::Refill() {
  if (at_physical_end_) return kEndOfInput;
  if (may_wait_ && before_wait_ && platform_.ReadWouldWait(file_)) before_wait_();
  const IoResult result = platform_.Read(file_, reinterpret_cast<char*>(buffer_), capacity_);
  pos_ = 0;
  end_ = 0;
  if (result.error != 0) {
    io_.pending = result.error;
    return kEndOfInput;
  }
  if (result.bytes == 0) {
    at_physical_end_ = true;
    return kEndOfInput;
  }
  end_ = result.bytes;
  return Peek();
}

void InputFile::Close() {
  if (const int error = platform_.Close(file_)) io_.pending = error;
}

}  // namespace hashbin
