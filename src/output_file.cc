// Writing out the output buffer.
#include "output_file.h"

namespace hashbin {

OutputFile::OutputFile(Platform& platform, FileHandle file, IoState& io, char* buffer,
                       std::size_t capacity, bool write_each_line)
    : platform_(platform),
      file_(file),
      io_(io),
      buffer_(buffer),
      capacity_(capacity),
      write_each_line_(write_each_line) {}

void OutputFile::Flush() {
  std::size_t done = 0;
  while (done < length_) {
    const IoResult result = platform_.Write(file_, buffer_ + done, length_ - done);
    if (result.error != 0 || result.bytes == 0) {
      io_.pending = result.error != 0 ? result.error : kWriteFault;
      failed_ = true;
      break;
    }
    done += result.bytes;
  }
  length_ = 0;
}

void OutputFile::Close() {
  Flush();
  if (failed_) return;
  if (const int error = platform_.Close(file_)) io_.pending = error;
}

}  // namespace hashbin
