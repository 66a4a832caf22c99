// The buffered output: text is gathered in a buffer and reaches the system in blocks, at a
// character device's line ends, on request and at the close.
#pragma once

#include <cstddef>

#include "io_state.h"
#include "platform.h"

namespace hashbin {

class OutputFile {
 public:
  OutputFile(Platform& platform, FileHandle file, IoState& io, char* buffer, std::size_t capacity,
             bool write_each_line);

  // Room for `size` more bytes (at most the capacity), writing out what the buffer holds first
  // when it has too little. Fill it, then hand the end of what was written to Commit.
  char* Reserve(std::size_t size) {
    if (capacity_ - length_ < size) Flush();
    return buffer_ + length_;
  }
  void Commit(char* end) { length_ = static_cast<std::size_t>(end - buffer_); }

  // Where the next byte goes, and the end of the buffer, for writers that fill it in one go.
  char* position() const { return buffer_ + length_; }
  char* end() const { return buffer_ + capacity_; }
  bool writes_each_line() const { return write_each_line_; }

  // Called after each line's CR LF.
  void EndLine() {
    if (write_each_line_) Flush();
  }

  // Writes out the buffer, repeating short writes. On a failure the error becomes pending, the
  // unwritten bytes are dropped and the file counts as failed from then on.
  void Flush();

  // Writes out the buffer and closes the file; when the write-out fails the file stays open.
  void Close();

  // A write has failed: what the system accepted before it is all that the file will hold.
  bool failed() const { return failed_; }

 private:
  Platform& platform_;
  FileHandle file_;
  IoState& io_;
  char* buffer_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  bool write_each_line_;
  bool failed_ = false;
};

}  // namespace hashbin
