// The narrow interface through which the tool reaches the operating system. Abstract so that
// tests can replace it with an in-memory fake that fails any call on demand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace hashbin {

// An open file of the platform; what the value means is the platform's business.
struct FileHandle {
  std::intptr_t value = -1;
};

enum class FileKind {
  kDisk,        // a regular file or a block device: written in blocks, never waits for input
  kCharDevice,  // a terminal, /dev/null ...: every output line is written at its line end
  kPipe,        // a pipe, FIFO or socket: written in blocks, input may have to be waited for
  kUnknown,     // nothing the tool knows how to write to
};

// Error codes are the Windows system error codes of the condition, on every platform, so that a
// failure report reads the same everywhere. 0 means success.
struct OpenResult {
  FileHandle handle;
  int error = 0;
  std::string reason;  // the system's words for a refused open, for the user
};

struct IoResult {
  std::size_t bytes = 0;
  int error = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Opens an existing file for reading and holds it with a shared lock. A directory, or a file
  // that another run holds for writing, is refused.
  virtual OpenResult OpenForReading(std::string_view name) = 0;

  // Opens `name` for writing, creating it if missing, and empties it only once it is known to be
  // safe: never when it is the same file as `input`, nor while another run reads or writes it
  // (it is then held with an exclusive lock).
  virtual OpenResult CreateForWriting(std::string_view name, FileHandle input) = 0;

  virtual FileKind KindOf(FileHandle file) = 0;

  // Reads up to `size` bytes. 0 bytes with no error is the end of the data; so is a pipe whose
  // writing end has closed. Interrupted calls are retried inside.
  virtual IoResult Read(FileHandle file, char* buffer, std::size_t size) = 0;

  // True when a read would have to wait for data that is not there yet.
  virtual bool ReadWouldWait(FileHandle file) = 0;

  // Writes some of `size` bytes: at least one, or reports an error. Interrupted calls are
  // retried inside.
  virtual IoResult Write(FileHandle file, const char* data, std::size_t size) = 0;

  // Returns 0 or the error code; the handle is gone either way.
  virtual int Close(FileHandle file) = 0;

  // The file name, without directories, of the running program.
  virtual std::string_view ProgramName() = 0;

  // Writes to the standard error stream; failures are ignored.
  virtual void WriteStandardError(std::string_view text) = 0;

  // Memory for the tool's buffers, or null when it cannot be obtained.
  virtual std::unique_ptr<char[]> Allocate(std::size_t size) = 0;
};

// The platform of the machine the program runs on.
std::unique_ptr<Platform> MakeSystemPlatform(const char* argv0);

}  // namespace hashbin
