// An in-memory platform for tests: files are strings, any call can be made to fail with a chosen
// code, reads can be cut short, and every call is logged.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

namespace hashbin {

struct FakeFile {
  std::string content;
  FileKind kind = FileKind::kDisk;
  bool is_directory = false;
  bool in_use = false;  // another run holds it
};

enum class FakeCall { kOpenForReading, kCreateForWriting, kRead, kWrite, kClose, kAllocate };

class FakePlatform final : public Platform {
 public:
  std::map<std::string, FakeFile, std::less<>> files;
  std::string standard_error;
  std::string program_name = "hashbin6";
  // One line per call that touches a file: "read in.txt 5", "write out.txt 128", "wait in.txt".
  std::vector<std::string> log;
  // At most this many bytes per read, by the read's number (1, 2, ...); null: the whole request.
  std::function<std::size_t(int read_number)> read_size;
  // At most this many bytes accepted per write; 0: all of them.
  std::size_t write_limit = 0;
  // Inputs of kind kPipe say that a read would wait before each read.
  bool pipes_wait = true;
  // Runs at the start of every read; a test can throw from it.
  std::function<void()> on_read;

  // The `nth` call (from 1) of `call` fails with `code`; a failing write accepts `accepted` bytes
  // first. Each fault fires once.
  void Fail(FakeCall call, int nth, int code, std::size_t accepted = 0);
  int Calls(FakeCall call) const;
  const std::string& Content(std::string_view name) const;

  OpenResult OpenForReading(std::string_view name) override;
  OpenResult CreateForWriting(std::string_view name, FileHandle input) override;
  FileKind KindOf(FileHandle file) override;
  IoResult Read(FileHandle file, char* buffer, std::size_t size) override;
  bool ReadWouldWait(FileHandle file) override;
  IoResult Write(FileHandle file, const char* data, std::size_t size) override;
  int Close(FileHandle file) override;
  std::string_view ProgramName() override { return program_name; }
  void WriteStandardError(std::string_view text) override { standard_error += text; }
  std::unique_ptr<char[]> Allocate(std::size_t size) override;

 private:
  struct Fault {
    FakeCall call;
    int nth;
    int code;
    std::size_t accepted;
  };
  struct Open {
    std::string name;
    std::size_t offset = 0;
  };

  // The fault planned for this call of `call`, if any; counts the call.
  const Fault* NextCall(FakeCall call);
  FakeFile& FileOf(FileHandle handle);

  std::vector<Fault> faults_;
  std::map<FakeCall, int> calls_;
  std::map<std::intptr_t, Open> open_;
  std::intptr_t next_handle_ = 3;
};

}  // namespace hashbin
