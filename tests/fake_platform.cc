// The in-memory platform.
#include "fake_platform.h"

#include <algorithm>
#include <stdexcept>

namespace hashbin {

void FakePlatform::Fail(FakeCall call, int nth, int code, std::size_t accepted) {
  faults_.push_back({call, nth, code, accepted});
}

int FakePlatform::Calls(FakeCall call) const {
  const auto it = calls_.find(call);
  return it == calls_.end() ? 0 : it->second;
}

const std::string& FakePlatform::Content(std::string_view name) const {
  const auto it = files.find(name);
  if (it == files.end()) throw std::out_of_range("no fake file " + std::string(name));
  return it->second.content;
}

const FakePlatform::Fault* FakePlatform::NextCall(FakeCall call) {
  const int number = ++calls_[call];
  for (const Fault& fault : faults_) {
    if (fault.call == call && fault.nth == number) return &fault;
  }
  return nullptr;
}

FakeFile& FakePlatform::FileOf(FileHandle handle) { return files.at(open_.at(handle.value).name); }

OpenResult FakePlatform::OpenForReading(std::string_view name) {
  OpenResult result;
  if (const Fault* fault = NextCall(FakeCall::kOpenForReading)) {
    result.error = fault->code;
    result.reason = "injected failure";
    return result;
  }
  const auto it = files.find(name);
  if (it == files.end()) {
    result.error = 2;
    result.reason = "No such file or directory";
  } else if (it->second.is_directory) {
    result.error = 5;
    result.reason = "Is a directory";
  } else if (it->second.in_use) {
    result.error = 33;
    result.reason = "another run is writing it";
  } else {
    result.handle.value = next_handle_++;
    open_[result.handle.value] = {std::string(name), 0};
  }
  return result;
}

OpenResult FakePlatform::CreateForWriting(std::string_view name, FileHandle input) {
  OpenResult result;
  if (const Fault* fault = NextCall(FakeCall::kCreateForWriting)) {
    result.error = fault->code;
    result.reason = "injected failure";
    return result;
  }
  const auto it = files.find(name);
  const bool exists = it != files.end();
  if (exists && it->second.is_directory) {
    result.error = 5;
    result.reason = "Is a directory";
    return result;
  }
  const bool shared = exists && it->second.kind != FileKind::kDisk;
  if (!shared && open_.count(input.value) != 0 && open_.at(input.value).name == name) {
    result.error = 32;
    result.reason = "it is the input file";
    return result;
  }
  if (exists && it->second.in_use) {
    result.error = 33;
    result.reason = "another run is using it";
    return result;
  }
  FakeFile& file = files[std::string(name)];
  if (!shared) file.content.clear();
  result.handle.value = next_handle_++;
  open_[result.handle.value] = {std::string(name), 0};
  return result;
}

FileKind FakePlatform::KindOf(FileHandle file) { return FileOf(file).kind; }

IoResult FakePlatform::Read(FileHandle handle, char* buffer, std::size_t size) {
  if (on_read) on_read();
  Open& open = open_.at(handle.value);
  const FakeFile& file = files.at(open.name);
  const int number = Calls(FakeCall::kRead) + 1;
  if (const Fault* fault = NextCall(FakeCall::kRead)) {
    log.push_back("read " + open.name + " failed");
    return {0, fault->code};
  }
  std::size_t count = std::min(size, file.content.size() - open.offset);
  if (read_size) count = std::min(count, std::max<std::size_t>(read_size(number), 1));
  file.content.copy(buffer, count, open.offset);
  open.offset += count;
  log.push_back("read " + open.name + " " + std::to_string(count));
  return {count, 0};
}

bool FakePlatform::ReadWouldWait(FileHandle handle) {
  const bool waits = pipes_wait && FileOf(handle).kind == FileKind::kPipe;
  if (waits) log.push_back("wait " + open_.at(handle.value).name);
  return waits;
}

IoResult FakePlatform::Write(FileHandle handle, const char* data, std::size_t size) {
  const std::string& name = open_.at(handle.value).name;
  FakeFile& file = files.at(name);
  if (const Fault* fault = NextCall(FakeCall::kWrite)) {
    const std::size_t accepted = std::min(fault->accepted, size);
    file.content.append(data, accepted);
    log.push_back("write " + name + " failed after " + std::to_string(accepted));
    return {0, fault->code};
  }
  const std::size_t count = write_limit != 0 ? std::min(size, write_limit) : size;
  file.content.append(data, count);
  log.push_back("write " + name + " " + std::to_string(count));
  return {count, 0};
}

int FakePlatform::Close(FileHandle handle) {
  const std::string name = open_.at(handle.value).name;
  open_.erase(handle.value);
  if (const Fault* fault = NextCall(FakeCall::kClose)) {
    log.push_back("close " + name + " failed");
    return fault->code;
  }
  log.push_back("close " + name);
  return 0;
}

std::unique_ptr<char[]> FakePlatform::Allocate(std::size_t size) {
  if (NextCall(FakeCall::kAllocate) != nullptr) return nullptr;
  return std::make_unique<char[]>(size);
}

}  // namespace hashbin
