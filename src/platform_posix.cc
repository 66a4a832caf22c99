// The platform on Linux and other POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>
#include <string>

#include "errno_codes.h"
#include "platform.h"

namespace hashbin {
namespace {

// Codes for the refusals that only this platform layer finds.
constexpr int kSharingViolation = 32;
constexpr int kLockViolation = 33;

int Fd(FileHandle file) { return static_cast<int>(file.value); }

OpenResult Refused(int errnum) {
  OpenResult result;
  result.error = SystemErrorCode(errnum);
  result.reason = std::strerror(errnum);
  return result;
}

OpenResult Refused(int code, const char* reason) {
  OpenResult result;
  result.error = code;
  result.reason = reason;
  return result;
}

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Takes an open-file-description lock on the whole file: such locks belong to this open file,
// not to the process, and conflict with every other open of the file. Returns false only when
// another holder stands in the way; a file system without locks is used without them.
bool TakeLock(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  while (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    if (errno == EINTR) continue;
    return errno != EAGAIN && errno != EACCES;
  }
  return true;
}

// Waits until `fd` is ready, for files that someone made non-blocking.
void WaitFor(int fd, short events) {
  struct pollfd entry {
    fd, events, 0
  };
  while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
  }
}

class PosixPlatform final : public Platform {
 public:
  explicit PosixPlatform(const char* argv0) {
    // A reader that went away, or a file-size limit, is a write failure to report, not a signal
    // that ends the run without a word.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof path) {
      std::string_view exe(path, static_cast<std::size_t>(length));
      // The link of a program file deleted while it runs names it with this mark.
      constexpr std::string_view kDeleted = " (deleted)";
      if (exe.ends_with(kDeleted)) exe.remove_suffix(kDeleted.size());
      program_name_ = BaseName(exe);
    } else if (argv0 != nullptr && *argv0 != '\0') {
      program_name_ = BaseName(argv0);
    } else {
      program_name_ = "hashbin";
    }
  }

  OpenResult OpenForReading(std::string_view name) override {
    const std::string path(name);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Refused(errno);
    struct stat info {};
    if (fstat(fd, &info) != 0) return CloseAndRefuse(fd, Refused(errno));
    if (S_ISDIR(info.st_mode)) return CloseAndRefuse(fd, Refused(EISDIR));
    if (S_ISREG(info.st_mode) && !TakeLock(fd, F_RDLCK)) {
      return CloseAndRefuse(fd, Refused(kLockViolation, "another run is writing it"));
    }
    return Opened(fd);
  }

  OpenResult CreateForWriting(std::string_view name, FileHandle input) override {
    const std::string path(name);
    // Not truncated yet: the file may turn out to be the input, or in use.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return Refused(errno);
    struct stat info {};
    if (fstat(fd, &info) != 0) return CloseAndRefuse(fd, Refused(errno));
    if (!S_ISREG(info.st_mode)) return Opened(fd);  // terminals, pipes and devices are shared
    struct stat input_info {};
    if (fstat(Fd(input), &input_info) == 0 && S_ISREG(input_info.st_mode) &&
        input_info.st_dev == info.st_dev && input_info.st_ino == info.st_ino) {
      return CloseAndRefuse(fd, Refused(kSharingViolation, "it is the input file"));
    }
    if (!TakeLock(fd, F_WRLCK)) {
      return CloseAndRefuse(fd, Refused(kLockViolation, "another run is using it"));
    }
    // A file that is empty already is left as it is: emptying it anyway makes ext4 write the
    // whole new output back at the close, which the run would then wait for.
    if (fstat(fd, &info) != 0) return CloseAndRefuse(fd, Refused(errno));
    if (info.st_size != 0 && ftruncate(fd, 0) != 0) return CloseAndRefuse(fd, Refused(errno));
    return Opened(fd);
  }

  FileKind KindOf(FileHandle file) override {
    struct stat info {};
    if (fstat(Fd(file), &info) != 0) return FileKind::kUnknown;
    if (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) return FileKind::kDisk;
    if (S_ISCHR(info.st_mode)) return FileKind::kCharDevice;
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FileKind::kPipe;
    return FileKind::kUnknown;
  }

  IoResult Read(FileHandle file, char* buffer, std::size_t size) override {
    for (;;) {
      const ssize_t count = read(Fd(file), buffer, size);
      if (count >= 0) return {static_cast<std::size_t>(count), 0};
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        WaitFor(Fd(file), POLLIN);
        continue;
      }
      return {0, SystemErrorCode(errno)};
    }
  }

  bool ReadWouldWait(FileHandle file) override {
    struct pollfd entry {
      Fd(file), POLLIN, 0
    };
    int ready;
    while ((ready = poll(&entry, 1, 0)) < 0 && errno == EINTR) {
    }
    return ready == 0;
  }

  IoResult Write(FileHandle file, const char* data, std::size_t size) override {
    for (;;) {
      const ssize_t count = write(Fd(file), data, size);
      if (count > 0) return {static_cast<std::size_t>(count), 0};
      if (count < 0 && errno == EINTR) continue;
      if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        WaitFor(Fd(file), POLLOUT);
        continue;
      }
      return {0, count < 0 ? SystemErrorCode(errno) : 0};
    }
  }

  int Close(FileHandle file) override {
    // After EINTR the descriptor is gone on Linux; closing again could hit another file.
    if (close(Fd(file)) != 0 && errno != EINTR) return SystemErrorCode(errno);
    return 0;
  }

  std::string_view ProgramName() override { return program_name_; }

  void WriteStandardError(std::string_view text) override {
    while (!text.empty()) {
      const ssize_t count = write(STDERR_FILENO, text.data(), text.size());
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return;
      text.remove_prefix(static_cast<std::size_t>(count));
    }
  }

  std::unique_ptr<char[]> Allocate(std::size_t size) override {
    return std::unique_ptr<char[]>(new (std::nothrow) char[size]);
  }

 private:
  static OpenResult Opened(int fd) {
    OpenResult result;
    result.handle.value = fd;
    return result;
  }

  static OpenResult CloseAndRefuse(int fd, OpenResult refusal) {
    close(fd);
    return refusal;
  }

  std::string program_name_;
};

}  // namespace

std::unique_ptr<Platform> MakeSystemPlatform(const char* argv0) {
  return std::make_unique<PosixPlatform>(argv0);
}

}  // namespace hashbin
