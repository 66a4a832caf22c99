// Tests of the POSIX platform layer against the real system: files, pipes, devices, locks, codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "errno_codes.h"
#include "failure_report.h"
#include "platform.h"

namespace hashbin {
namespace {

namespace fs = std::filesystem;

// A scratch directory of its own for each test, removed with everything in it.
struct ScopedTempDir {
  ScopedTempDir() {
    std::string pattern = (fs::temp_directory_path() / "hashbin_posix_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~ScopedTempDir() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
  std::string File(std::string_view name) const { return path + "/" + std::string(name); }

  std::string path;
};

// A descriptor the test opened itself, closed when it goes out of scope.
struct ScopedFd {
  ScopedFd() = default;
  explicit ScopedFd(int descriptor) : fd(descriptor) {}
  ScopedFd(ScopedFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    Reset();
    fd = std::exchange(other.fd, -1);
    return *this;
  }
  ~ScopedFd() { Reset(); }
  void Reset() {
    if (fd >= 0) close(fd);
    fd = -1;
  }

  int fd = -1;
};

struct Pipe {
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
      read_end = ScopedFd(fds[0]);
      write_end = ScopedFd(fds[1]);
    }
  }

  ScopedFd read_end;
  ScopedFd write_end;
};

FileHandle HandleOf(const ScopedFd& fd) { return FileHandle{fd.fd}; }

std::string FileContent(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// Bytes of every value, line ends and the Ctrl-Z mark among them, so that nothing is translated.
std::string MixedBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return bytes;
}

int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// The lock that someone other than the prober holds on `path`: F_UNLCK, F_RDLCK or F_WRLCK.
short LockHeldOn(const std::string& path) {
  const ScopedFd probe(open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (probe.fd < 0) return -1;
  struct flock lock {};
  lock.l_type = F_WRLCK;  // conflicts with either kind, so the holder's kind comes back
  lock.l_whence = SEEK_SET;
  if (fcntl(probe.fd, F_OFD_GETLK, &lock) != 0) return -1;
  return lock.l_type;
}

// Holds `path` the way another run would: its own open file with an OFD lock of `type`.
ScopedFd LockAsAnotherRun(const std::string& path, short type) {
  ScopedFd fd(open(path.c_str(), (type == F_RDLCK ? O_RDONLY : O_WRONLY) | O_CLOEXEC));
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  if (fd.fd < 0 || fcntl(fd.fd, F_OFD_SETLK, &lock) != 0) {
    ADD_FAILURE() << "cannot lock " << path << ": " << std::strerror(errno);
  }
  return fd;
}

// Fills a pipe until a write would wait, leaving its blocking mode as it was.
void FillPipe(int write_end) {
  const int flags = fcntl(write_end, F_GETFL);
  fcntl(write_end, F_SETFL, flags | O_NONBLOCK);
  const std::string block(4096, 'x');
  while (write(write_end, block.data(), block.size()) > 0) {
  }
  for (char byte = 'x'; write(write_end, &byte, 1) > 0;) {
  }
  fcntl(write_end, F_SETFL, flags);
}

void DrainPipe(int read_end) {
  const int flags = fcntl(read_end, F_GETFL);
  fcntl(read_end, F_SETFL, flags | O_NONBLOCK);
  char buffer[4096];
  while (read(read_end, buffer, sizeof buffer) > 0) {
  }
  fcntl(read_end, F_SETFL, flags);
}

// Waits, for a bounded while, until thread `tid` of this process sleeps in the kernel. A thread
// that never gets there is left to run on: the test still checks the outcome.
void WaitUntilSleeping(pid_t tid) {
  const std::string stat_path = "/proc/self/task/" + std::to_string(tid) + "/stat";
  for (int attempt = 0; attempt < 5000; ++attempt) {
    const std::string stat = FileContent(stat_path);
    const std::size_t close_paren = stat.rfind(')');
    if (close_paren != std::string::npos && close_paren + 2 < stat.size() &&
        stat[close_paren + 2] == 'S') {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::atomic<int> signals_caught{0};
void CountSignal(int) { signals_caught.fetch_add(1); }

// A handler installed without SA_RESTART, so that a blocked call returns EINTR.
class ScopedInterruptingHandler {
 public:
  explicit ScopedInterruptingHandler(int signal) : signal_(signal) {
    struct sigaction action {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signal_, &action, &previous_);
  }
  ~ScopedInterruptingHandler() { sigaction(signal_, &previous_, nullptr); }

 private:
  int signal_;
  struct sigaction previous_ {};
};

class PosixTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path.empty()) << "mkdtemp: " << std::strerror(errno); }
  void TearDown() override {
    for (const FileHandle handle : kept_) platform_->Close(handle);
  }

  // The handle of an open that must succeed, closed at the end of the test.
  FileHandle Kept(const OpenResult& result, std::string_view what) {
    EXPECT_EQ(result.error, 0) << what << ": " << result.reason;
    if (result.error == 0) kept_.push_back(result.handle);
    return result.handle;
  }
  FileHandle MustOpenForReading(const std::string& name) {
    return Kept(platform_->OpenForReading(name), name);
  }
  FileHandle MustCreateForWriting(const std::string& name, FileHandle input) {
    return Kept(platform_->CreateForWriting(name, input), name);
  }
  int CloseKept(FileHandle handle) {
    std::erase_if(kept_, [&](FileHandle kept) { return kept.value == handle.value; });
    return platform_->Close(handle);
  }

  ScopedTempDir dir_;
  std::unique_ptr<Platform> platform_ = MakeSystemPlatform("hashbin_tests");
  std::vector<FileHandle> kept_;
};

using PosixOpenForReading = PosixTest;
using PosixCreateForWriting = PosixTest;
using PosixReadWrite = PosixTest;
using PosixKindOf = PosixTest;

TEST_F(PosixOpenForReading, RefusesWhatCannotBeReadWithTheSystemsReason) {
  WriteFile(dir_.File("plain"), "1 2 3\r\n");
  fs::create_directory(dir_.File("folder"));
  struct Case {
    std::string name;
    int code;    // expected error code; 0: any refusal
    int errnum;  // the condition whose words the reason must be; 0: any words
  };
  const Case cases[] = {
      {dir_.File("missing"), 2, ENOENT},     {dir_.File("no-such-folder/file"), 2, ENOENT},
      {dir_.File("plain/file"), 3, ENOTDIR}, {dir_.File(std::string(300, 'n')), 206, ENAMETOOLONG},
      {dir_.File("folder"), 0, 0},           {dir_.path, 0, 0},
  };
  const int descriptors = OpenDescriptorCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OpenResult result = platform_->OpenForReading(c.name);
    if (c.code != 0) {
      EXPECT_EQ(result.error, c.code);
    } else {
      EXPECT_NE(result.error, 0);
    }
    if (c.errnum != 0) {
      EXPECT_EQ(result.reason, std::strerror(c.errnum));
    } else {
      EXPECT_FALSE(result.reason.empty());
    }
    if (result.error == 0) platform_->Close(result.handle);
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a refused open left a descriptor behind";
}

TEST_F(PosixOpenForReading, ReadsEveryByteOfAFileThenReportsItsEnd) {
  const std::string content = MixedBytes(10'000);
  WriteFile(dir_.File("input"), content);
  const FileHandle input = MustOpenForReading(dir_.File("input"));
  EXPECT_EQ(platform_->KindOf(input), FileKind::kDisk);
  std::string seen;
  char buffer[4096];
  for (int reads = 0; reads < 100; ++reads) {
    const IoResult result = platform_->Read(input, buffer, sizeof buffer);
    ASSERT_EQ(result.error, 0);
    if (result.bytes == 0) break;
    seen.append(buffer, result.bytes);
  }
  EXPECT_EQ(seen, content);
  // The end stays the end.
  const IoResult again = platform_->Read(input, buffer, sizeof buffer);
  EXPECT_EQ(again.bytes, 0u);
  EXPECT_EQ(again.error, 0);
  EXPECT_EQ(CloseKept(input), 0);
}

TEST_F(PosixOpenForReading, HoldsTheInputWithASharedLockUntilClosed) {
  const std::string path = dir_.File("input");
  WriteFile(path, "4 5 6\r\n");
  const FileHandle first = MustOpenForReading(path);
  EXPECT_EQ(LockHeldOn(path), F_RDLCK);

  // Readers share: a second run reading the same file, and a reader outside any run, are let in.
  ScopedFd outside_reader = LockAsAnotherRun(path, F_RDLCK);
  const FileHandle second = MustOpenForReading(path);

  // A run that wants to write it is turned away while anyone reads it.
  const OpenResult writer = platform_->CreateForWriting(path, FileHandle{});
  EXPECT_NE(writer.error, 0);
  EXPECT_FALSE(writer.reason.empty());
  if (writer.error == 0) platform_->Close(writer.handle);
  EXPECT_EQ(FileContent(path), "4 5 6\r\n");

  EXPECT_EQ(CloseKept(first), 0);
  EXPECT_EQ(CloseKept(second), 0);
  outside_reader.Reset();
  EXPECT_EQ(LockHeldOn(path), F_UNLCK) << "closing the input must release its lock";
  MustCreateForWriting(path, FileHandle{});
  EXPECT_EQ(FileContent(path), "");
}

TEST_F(PosixOpenForReading, RefusesAFileAnotherRunWrites) {
  const std::string path = dir_.File("busy");
  WriteFile(path, "7 8 9\r\n");
  {
    const ScopedFd writer = LockAsAnotherRun(path, F_WRLCK);
    const OpenResult result = platform_->OpenForReading(path);
    EXPECT_NE(result.error, 0);
    EXPECT_FALSE(result.reason.empty());
    if (result.error == 0) platform_->Close(result.handle);
  }
  {
    // Another run of the tool that made it its output.
    const std::unique_ptr<Platform> other_run = MakeSystemPlatform("hashbin6");
    const OpenResult output = other_run->CreateForWriting(path, FileHandle{});
    ASSERT_EQ(output.error, 0) << output.reason;
    const OpenResult result = platform_->OpenForReading(path);
    EXPECT_NE(result.error, 0);
    if (result.error == 0) platform_->Close(result.handle);
    other_run->Close(output.handle);
  }
  // Once the writer is gone the file can be read again.
  MustOpenForReading(path);
}

TEST_F(PosixCreateForWriting, CreatesAMissingFileAndKeepsWhatIsWritten) {
  const std::string path = dir_.File("new-output");
  const FileHandle output = MustCreateForWriting(path, FileHandle{});
  ASSERT_TRUE(fs::is_regular_file(path));
  EXPECT_EQ(fs::file_size(path), 0u);
  EXPECT_EQ(platform_->KindOf(output), FileKind::kDisk);
  EXPECT_EQ(LockHeldOn(path), F_WRLCK);

  const std::string text = MixedBytes(5000);
  std::size_t done = 0;
  while (done < text.size()) {
    const IoResult result = platform_->Write(output, text.data() + done, text.size() - done);
    ASSERT_EQ(result.error, 0);
    ASSERT_GT(result.bytes, 0u);
    done += result.bytes;
  }
  EXPECT_EQ(CloseKept(output), 0);
  EXPECT_EQ(FileContent(path), text);
  EXPECT_EQ(LockHeldOn(path), F_UNLCK) << "closing the output must release its lock";
}

TEST_F(PosixCreateForWriting, EmptiesAnExistingFileThatIsSafeToUse) {
  const std::string input_path = dir_.File("input");
  const std::string output_path = dir_.File("output");
  // Same bytes, different file: only the identity of the file counts, not what it holds.
  WriteFile(input_path, "1 2 3 4 5 6\r\n");
  WriteFile(output_path, "1 2 3 4 5 6\r\n");
  const FileHandle input = MustOpenForReading(input_path);
  MustCreateForWriting(output_path, input);
  EXPECT_EQ(FileContent(output_path), "");
  EXPECT_EQ(FileContent(input_path), "1 2 3 4 5 6\r\n");
}

TEST_F(PosixCreateForWriting, RefusesTheInputWhateverNameLeadsToIt) {
  const std::string input_path = dir_.File("input");
  const std::string content = "10 20 30 40 49 1\r\n";
  WriteFile(input_path, content);
  fs::create_directory(dir_.File("sub"));
  fs::create_hard_link(input_path, dir_.File("hard-link"));
  fs::create_symlink(input_path, dir_.File("symlink"));
  fs::create_symlink("../hard-link", dir_.File("sub/relative-symlink-to-link"));

  struct Case {
    std::string input;
    std::string output;
  };
  const Case cases[] = {
      {input_path, input_path},
      {input_path, dir_.File("sub/../input")},
      {input_path, dir_.File("hard-link")},
      {input_path, dir_.File("symlink")},
      {input_path, dir_.File("sub/relative-symlink-to-link")},
      {dir_.File("symlink"), input_path},
      {dir_.File("hard-link"), dir_.File("symlink")},
  };
  const int descriptors = OpenDescriptorCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + " -> " + c.output);
    const OpenResult input = platform_->OpenForReading(c.input);
    ASSERT_EQ(input.error, 0) << input.reason;
    // The same input without its lock, as on a file system that has no locks: then only the
    // identity of the file can stop the run.
    const ScopedFd unlocked(open(c.input.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_GE(unlocked.fd, 0);
    for (const FileHandle held : {input.handle, HandleOf(unlocked)}) {
      SCOPED_TRACE(held.value == input.handle.value ? "locked input" : "unlocked input");
      if (held.value == unlocked.fd) platform_->Close(input.handle);
      const OpenResult output = platform_->CreateForWriting(c.output, held);
      EXPECT_NE(output.error, 0);
      EXPECT_FALSE(output.reason.empty());
      if (output.error == 0) platform_->Close(output.handle);
      EXPECT_EQ(FileContent(input_path), content);
    }
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a refused output left a descriptor behind";
}

TEST_F(PosixCreateForWriting, RefusesAFileAnotherRunReadsOrWritesAndLeavesItAlone) {
  const std::string path = dir_.File("busy");
  const std::string content = "1 1 2 3 5 8\r\n";
  const std::unique_ptr<Platform> other_run = MakeSystemPlatform("hashbin6");
  struct Case {
    const char* holder;
    std::function<std::function<void()>()> hold;  // takes the file, returns how to let go
  };
  const Case cases[] = {
      {"a shared lock of another program",
       [&] {
         auto fd = std::make_shared<ScopedFd>(LockAsAnotherRun(path, F_RDLCK));
         return [fd] { fd->Reset(); };
       }},
      {"an exclusive lock of another program",
       [&] {
         auto fd = std::make_shared<ScopedFd>(LockAsAnotherRun(path, F_WRLCK));
         return [fd] { fd->Reset(); };
       }},
      {"another run reading it",
       [&] {
         const OpenResult held = other_run->OpenForReading(path);
         EXPECT_EQ(held.error, 0) << held.reason;
         return [&, handle = held.handle] { other_run->Close(handle); };
       }},
      {"another run writing it",
       [&] {
         // That run emptied it when it began; it has written the content since.
         const OpenResult held = other_run->CreateForWriting(path, FileHandle{});
         EXPECT_EQ(held.error, 0) << held.reason;
         EXPECT_EQ(other_run->Write(held.handle, content.data(), content.size()).bytes,
                   content.size());
         return [&, handle = held.handle] { other_run->Close(handle); };
       }},
  };
  const int descriptors = OpenDescriptorCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.holder);
    WriteFile(path, content);
    const std::function<void()> release = c.hold();
    const OpenResult output = platform_->CreateForWriting(path, FileHandle{});
    EXPECT_NE(output.error, 0);
    EXPECT_FALSE(output.reason.empty());
    if (output.error == 0) platform_->Close(output.handle);
    EXPECT_EQ(FileContent(path), content);
    release();
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST_F(PosixCreateForWriting, NeverTakesDevicesOrPipesForTheInput) {
  const std::string fifo = dir_.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Both ends open, so that opening it for reading or writing does not wait for a partner.
  const ScopedFd fifo_holder(open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  ASSERT_GE(fifo_holder.fd, 0);
  const ScopedFd terminal(posix_openpt(O_RDWR | O_NOCTTY));
  ASSERT_GE(terminal.fd, 0);
  ASSERT_EQ(grantpt(terminal.fd), 0);
  ASSERT_EQ(unlockpt(terminal.fd), 0);
  char terminal_name[128];
  ASSERT_EQ(ptsname_r(terminal.fd, terminal_name, sizeof terminal_name), 0);

  struct Case {
    std::string input;
    std::string output;
    FileKind kind;
  };
  const Case cases[] = {
      {"/dev/null", "/dev/null", FileKind::kCharDevice},
      {"/dev/zero", "/dev/null", FileKind::kCharDevice},
      {fifo, fifo, FileKind::kPipe},
      {terminal_name, terminal_name, FileKind::kCharDevice},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + " -> " + c.output);
    const FileHandle input = MustOpenForReading(c.input);
    const OpenResult output = platform_->CreateForWriting(c.output, input);
    ASSERT_EQ(output.error, 0) << output.reason;
    EXPECT_EQ(platform_->KindOf(output.handle), c.kind);
    const IoResult written = platform_->Write(output.handle, "1 2 3\r\n", 7);
    EXPECT_EQ(written.error, 0);
    EXPECT_EQ(written.bytes, 7u);
    EXPECT_EQ(platform_->Close(output.handle), 0);
    EXPECT_EQ(CloseKept(input), 0);
  }
}

TEST_F(PosixKindOf, TellsFilesDevicesAndPipesApart) {
  const std::string regular = dir_.File("regular");
  WriteFile(regular, "x");
  const std::string fifo = dir_.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Pipe pipe_ends;
  int sockets[2] = {-1, -1};
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
  const ScopedFd socket_a(sockets[0]);
  const ScopedFd socket_b(sockets[1]);

  struct Case {
    const char* what;
    int fd;
    FileKind kind;
  };
  const ScopedFd regular_fd(open(regular.c_str(), O_RDONLY | O_CLOEXEC));
  const ScopedFd null_fd(open("/dev/null", O_WRONLY | O_CLOEXEC));
  const ScopedFd terminal_fd(posix_openpt(O_RDWR | O_NOCTTY));
  const ScopedFd fifo_fd(open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  const ScopedFd directory_fd(open(dir_.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const Case cases[] = {
      {"regular file", regular_fd.fd, FileKind::kDisk},
      {"/dev/null", null_fd.fd, FileKind::kCharDevice},
      {"terminal", terminal_fd.fd, FileKind::kCharDevice},
      {"pipe, reading end", pipe_ends.read_end.fd, FileKind::kPipe},
      {"pipe, writing end", pipe_ends.write_end.fd, FileKind::kPipe},
      {"FIFO", fifo_fd.fd, FileKind::kPipe},
      {"socket", socket_a.fd, FileKind::kPipe},
      {"directory", directory_fd.fd, FileKind::kUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GE(c.fd, 0) << std::strerror(errno);
    EXPECT_EQ(platform_->KindOf(FileHandle{c.fd}), c.kind);
  }
  EXPECT_EQ(platform_->KindOf(FileHandle{}), FileKind::kUnknown) << "no file at all";
}

TEST_F(PosixReadWrite, PipeWaitsWhileEmptyAndEndsWhenItsWriterCloses) {
  Pipe ends;
  ASSERT_GE(ends.read_end.fd, 0);
  const FileHandle input = HandleOf(ends.read_end);
  EXPECT_TRUE(platform_->ReadWouldWait(input)) << "empty, writer still there";

  ASSERT_EQ(write(ends.write_end.fd, "7 8 9\n", 6), 6);
  EXPECT_FALSE(platform_->ReadWouldWait(input)) << "data waiting";
  char buffer[64];
  const IoResult first = platform_->Read(input, buffer, sizeof buffer);
  EXPECT_EQ(first.error, 0);
  EXPECT_EQ(std::string_view(buffer, first.bytes), "7 8 9\n");
  EXPECT_TRUE(platform_->ReadWouldWait(input)) << "drained, writer still there";

  ASSERT_EQ(write(ends.write_end.fd, "1\r", 2), 2);
  ends.write_end.Reset();
  // What was written before the close still comes first; then the end, never an error.
  EXPECT_FALSE(platform_->ReadWouldWait(input));
  const IoResult last = platform_->Read(input, buffer, sizeof buffer);
  EXPECT_EQ(std::string_view(buffer, last.bytes), "1\r");
  EXPECT_FALSE(platform_->ReadWouldWait(input)) << "writer gone: the end is there at once";
  for (int i = 0; i < 2; ++i) {
    const IoResult end = platform_->Read(input, buffer, sizeof buffer);
    EXPECT_EQ(end.bytes, 0u);
    EXPECT_EQ(end.error, 0);
  }
}

TEST_F(PosixReadWrite, FilesAndDevicesNeverMakeAReadWait) {
  WriteFile(dir_.File("empty"), "");
  WriteFile(dir_.File("full"), "1 2 3\r\n");
  for (const std::string& name :
       {dir_.File("empty"), dir_.File("full"), std::string("/dev/null")}) {
    SCOPED_TRACE(name);
    const FileHandle input = MustOpenForReading(name);
    EXPECT_FALSE(platform_->ReadWouldWait(input));
    char buffer[16];
    while (platform_->Read(input, buffer, sizeof buffer).bytes > 0) {
    }
    EXPECT_FALSE(platform_->ReadWouldWait(input)) << "at the end";
  }
}

// A blocked read or write finishes with its data, not an error, when the pipe was made
// non-blocking by someone else or when a signal interrupts the call.
TEST_F(PosixReadWrite, BlockedCallsWaitThroughNonBlockingModeAndSignals) {
  enum class Hurdle { kNonBlocking, kSignal };
  struct Case {
    const char* what;
    bool reading;
    Hurdle hurdle;
  };
  const Case cases[] = {
      {"read, non-blocking pipe", true, Hurdle::kNonBlocking},
      {"read, interrupted", true, Hurdle::kSignal},
      {"write, non-blocking full pipe", false, Hurdle::kNonBlocking},
      {"write, interrupted on a full pipe", false, Hurdle::kSignal},
  };
  const ScopedInterruptingHandler handler(SIGUSR1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pipe ends;
    ASSERT_GE(ends.read_end.fd, 0);
    if (!c.reading) FillPipe(ends.write_end.fd);
    if (c.hurdle == Hurdle::kNonBlocking) {
      const int fd = c.reading ? ends.read_end.fd : ends.write_end.fd;
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    signals_caught = 0;
    const pid_t tid = gettid();
    const pthread_t self = pthread_self();
    std::thread helper([&] {
      WaitUntilSleeping(tid);
      if (c.hurdle == Hurdle::kSignal) {
        pthread_kill(self, SIGUSR1);
        while (signals_caught.load() == 0) std::this_thread::yield();
        // Give the interrupted call the chance to come back and wait again.
        WaitUntilSleeping(tid);
      }
      if (c.reading) {
        EXPECT_EQ(write(ends.write_end.fd, "late\n", 5), 5);
      } else {
        DrainPipe(ends.read_end.fd);
      }
    });
    char buffer[16];
    const IoResult result = c.reading ? platform_->Read(HandleOf(ends.read_end), buffer, 16)
                                      : platform_->Write(HandleOf(ends.write_end), "z", 1);
    helper.join();
    EXPECT_EQ(result.error, 0);
    if (c.reading) {
      EXPECT_EQ(std::string_view(buffer, result.bytes), "late\n");
    } else {
      EXPECT_EQ(result.bytes, 1u);
    }
    if (c.hurdle == Hurdle::kSignal) {
      EXPECT_EQ(signals_caught.load(), 1);
    }
  }
}

TEST_F(PosixReadWrite, AFailedReadOrWriteReportsTheCodeOfItsCondition) {
  const std::string path = dir_.File("file");
  WriteFile(path, "1 2 3\r\n");
  const ScopedFd write_only(open(path.c_str(), O_WRONLY | O_CLOEXEC));
  const ScopedFd read_only(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  const ScopedFd directory(open(dir_.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct Case {
    const char* what;
    int fd;
    bool reading;
    int code;
  };
  const Case cases[] = {
      {"read from a file open only for writing", write_only.fd, true, 6},
      {"write to a file open only for reading", read_only.fd, false, 6},
      {"read from a directory", directory.fd, true, SystemErrorCode(EISDIR)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GE(c.fd, 0);
    char buffer[16] = "9 9 9\r\n";
    const IoResult result = c.reading ? platform_->Read(FileHandle{c.fd}, buffer, sizeof buffer)
                                      : platform_->Write(FileHandle{c.fd}, buffer, 7);
    EXPECT_EQ(result.bytes, 0u);
    EXPECT_NE(result.error, 0);
    EXPECT_EQ(result.error, c.code);
  }
  EXPECT_EQ(FileContent(path), "1 2 3\r\n");
}

// What a child process reports back of its writes, or the signal that ended it.
struct ChildOutcome {
  int signal = 0;
  std::string report;
};

// Runs `body` in a child with SIGPIPE and SIGXFSZ at their default actions, which end a process,
// so that only the platform can stop them from doing so.
ChildOutcome RunInChild(const std::function<std::string()>& body) {
  Pipe channel;
  ChildOutcome outcome;
  const pid_t child = fork();
  if (child == 0) {
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGXFSZ, SIG_DFL);
    channel.read_end.Reset();
    // The child must never return into the test runner, nor run the parent's destructors.
    std::string report;
    try {
      report = body();
    } catch (...) {
      report = "exception";
    }
    (void)!write(channel.write_end.fd, report.data(), report.size());
    _exit(0);
  }
  channel.write_end.Reset();
  char buffer[256];
  for (ssize_t count; (count = read(channel.read_end.fd, buffer, sizeof buffer)) > 0;) {
    outcome.report.append(buffer, static_cast<std::size_t>(count));
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

// "bytes/error" for each write of `sizes` bytes.
std::string WriteAll(Platform& platform, FileHandle output, const std::vector<std::size_t>& sizes) {
  const std::string data(4096, '5');
  std::string report;
  for (const std::size_t size : sizes) {
    const IoResult result = platform.Write(output, data.data(), size);
    report += std::to_string(result.bytes) + "/" + std::to_string(result.error) + " ";
  }
  return report;
}

TEST_F(PosixReadWrite, WriteFailuresComeBackAsCodesNeverAsSignals) {
  const std::string limited = dir_.File("limited");
  struct Case {
    const char* what;
    std::function<std::string()> body;
    std::string expected;
  };
  const Case cases[] = {
      {"a full device",
       [] {
         const std::unique_ptr<Platform> platform = MakeSystemPlatform("hashbin6");
         const OpenResult output = platform->CreateForWriting("/dev/full", FileHandle{});
         if (output.error != 0) return "cannot open: " + output.reason;
         return WriteAll(*platform, output.handle, {10});
       },
       "0/112 "},
      {"a pipe whose reader has gone",
       [] {
         const std::unique_ptr<Platform> platform = MakeSystemPlatform("hashbin6");
         Pipe ends;
         ends.read_end.Reset();
         return WriteAll(*platform, HandleOf(ends.write_end), {10, 10});
       },
       "0/232 0/232 "},
      {"a file that reaches the file-size limit",
       [&] {
         const std::unique_ptr<Platform> platform = MakeSystemPlatform("hashbin6");
         const rlimit limit{100, 100};
         setrlimit(RLIMIT_FSIZE, &limit);
         const OpenResult output = platform->CreateForWriting(limited, FileHandle{});
         if (output.error != 0) return "cannot open: " + output.reason;
         // The bytes below the limit are taken; the first write past it fails.
         return WriteAll(*platform, output.handle, {60, 60, 60});
       },
       "60/0 40/0 0/223 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ChildOutcome outcome = RunInChild(c.body);
    EXPECT_EQ(outcome.signal, 0) << "ended by " << strsignal(outcome.signal);
    EXPECT_EQ(outcome.report, c.expected);
  }
  EXPECT_EQ(fs::file_size(limited), 100u);
}

TEST_F(PosixReadWrite, CloseReportsSuccessAndTheErrorOfAHandleThatIsGone) {
  const FileHandle output = MustCreateForWriting(dir_.File("out"), FileHandle{});
  EXPECT_EQ(CloseKept(output), 0);
  // Nothing can have taken the number since: this test opens nothing in between.
  EXPECT_EQ(platform_->Close(output), 6);
  EXPECT_EQ(platform_->Close(FileHandle{}), 6);
}

TEST(PosixSystemErrorCode, MapsEachListedErrnoToTheCodeOfTheSameCondition) {
  struct Case {
    int errnum;
    const char* name;
    int code;
  };
  const Case cases[] = {
      {ENOSPC, "ENOSPC", 112},  {EFBIG, "EFBIG", 223},
      {EDQUOT, "EDQUOT", 1295}, {EPIPE, "EPIPE", 232},
      {EIO, "EIO", 1117},       {EACCES, "EACCES", 5},
      {EPERM, "EPERM", 5},      {ENOENT, "ENOENT", 2},
      {ENOTDIR, "ENOTDIR", 3},  {EMFILE, "EMFILE", 4},
      {ENFILE, "ENFILE", 4},    {EBADF, "EBADF", 6},
      {ENOMEM, "ENOMEM", 8},    {EROFS, "EROFS", 19},
      {EINVAL, "EINVAL", 87},   {ENAMETOOLONG, "ENAMETOOLONG", 206},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SystemErrorCode(c.errnum), c.code) << c.name;
  }
}

TEST(PosixSystemErrorCode, AnUnlistedErrnoIsNeverMisdescribed) {
  const std::set<int> listed = {ENOSPC, EFBIG,  EDQUOT,  EPIPE,       EIO,    EACCES,
                                EPERM,  ENOENT, ENOTDIR, EMFILE,      ENFILE, EBADF,
                                ENOMEM, EROFS,  EINVAL,  ENAMETOOLONG};
  std::set<int> listed_codes;
  for (const int errnum : listed) listed_codes.insert(SystemErrorCode(errnum));
  // The codes that the failure report has words of its own for.
  const std::set<int> described = {2, 3, 4, 5, 100, 101, 106};
  std::set<int> seen;
  for (int errnum = 1; errnum <= 200; ++errnum) {
    if (listed.count(errnum) != 0) continue;
    SCOPED_TRACE("errno " + std::to_string(errnum));
    const int code = SystemErrorCode(errnum);
    EXPECT_NE(code, 0) << "a failure must not read as success";
    EXPECT_EQ(described.count(code), 0u) << code;
    EXPECT_EQ(listed_codes.count(code), 0u) << code << " names another condition";
    EXPECT_TRUE(seen.insert(code).second) << code << " is shared with another errno";
    ReportText message;
    AppendIoErrorText(message, code);
    EXPECT_EQ(message.view(), "I/O error " + std::to_string(code));
  }
}

TEST(PosixProgramName, IsTheFileNameOfTheRunningProgramWhateverArgv0Says) {
  // The runtime's own copy of this program's argv[0]; it is not what the platform was given.
  const std::string expected = fs::path(program_invocation_name).filename().string();
  ASSERT_FALSE(expected.empty());
  for (const char* argv0 : {static_cast<const char*>(nullptr), "", "hashbin6",
                            "/usr/local/bin/some-other-name", "relative/dir/"}) {
    SCOPED_TRACE(argv0 == nullptr ? "null" : argv0);
    const std::unique_ptr<Platform> platform = MakeSystemPlatform(argv0);
    EXPECT_EQ(platform->ProgramName(), expected);
    EXPECT_EQ(platform->ProgramName().find('/'), std::string_view::npos);
  }
}

TEST(PosixAllocate, GivesMemoryThatHoldsWhatIsWrittenToIt) {
  const std::unique_ptr<Platform> platform = MakeSystemPlatform("hashbin6");
  const std::size_t sizes[] = {1, 4096, 65'536 + 17, 4u << 20};
  std::vector<std::unique_ptr<char[]>> blocks;
  std::vector<std::string> patterns;
  for (const std::size_t size : sizes) {
    // A different pattern in each block, so that blocks that overlap would show.
    patterns.push_back(MixedBytes(size + patterns.size()).substr(patterns.size()));
    blocks.push_back(platform->Allocate(size));
    ASSERT_NE(blocks.back(), nullptr) << size;
    std::memcpy(blocks.back().get(), patterns.back().data(), size);
  }
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(std::string_view(blocks[i].get(), sizes[i]), patterns[i]) << sizes[i];
  }
}

TEST(PosixAllocate, GivesNullForMemoryThatCannotBeHad) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer ends the process on an impossible size";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "the address sanitizer ends the process on an impossible size";
#endif
#endif
  const std::unique_ptr<Platform> platform = MakeSystemPlatform("hashbin6");
  // More than any address space holds: no setting of the machine can grant it.
  EXPECT_EQ(platform->Allocate(std::numeric_limits<std::size_t>::max() / 2), nullptr);
  // And a failure leaves nothing broken: the next ordinary request is granted.
  EXPECT_NE(platform->Allocate(1 << 16), nullptr);
}

}  // namespace
}  // namespace hashbin
