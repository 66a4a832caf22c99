// hashbin_rss: runs one command and prints its wall time, its peak resident memory and its status.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: hashbin_rss [--stdout FILE] -- COMMAND [ARG...]\n"
    "  Runs COMMAND (its standard output into FILE, emptied first, as a shell's > does) and\n"
    "  prints one line: wall seconds, peak RSS in KiB (from wait4), exit status (128 + signal\n"
    "  for a signal), user seconds, system seconds. Exits with COMMAND's status.\n";

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

double Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  const char* stdout_file = nullptr;
  int first = 1;
  for (; first < argc; ++first) {
    if (std::strcmp(argv[first], "--") == 0) {
      ++first;
      break;
    }
    if (std::strcmp(argv[first], "--stdout") == 0 && first + 1 < argc) {
      stdout_file = argv[++first];
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (first >= argc) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  // A plain fork, not vfork: the child's memory before its exec counts towards its peak, and a
  // forked copy holds only this program's few private pages, not its shared libraries.
  const double start = Now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("hashbin_rss: fork");
    return 2;
  }
  if (child == 0) {
    if (stdout_file != nullptr) {
      const int fd = open(stdout_file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) {
        std::perror("hashbin_rss: output");
        _exit(127);
      }
      close(fd);
    }
    execvp(argv[first], argv + first);
    std::perror("hashbin_rss: exec");
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  pid_t waited;
  while ((waited = wait4(child, &status, 0, &usage)) < 0 && errno == EINTR) {
  }
  const double elapsed = Now() - start;
  if (waited < 0) {
    std::perror("hashbin_rss: wait4");
    return 2;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %ld %d %.6f %.6f\n", elapsed, usage.ru_maxrss, code, Seconds(usage.ru_utime),
              Seconds(usage.ru_stime));
  return code;
}
