// End-to-end tests: the built programs run as a user runs them, on scratch files, bytes compared.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// ---------------------------------------------------------------------------------------------
// A reference for the expected lines, written from the documented algorithms and kept apart from
// the tool's own code: a bit-at-a-time checksum and a 64-bit product for the scaling.

using Record = std::vector<std::uint8_t>;

std::uint32_t RefKey(const Record& bytes) {
  std::uint32_t reg = 0xFFFFFFFFu;
  for (std::uint8_t byte : bytes) {
    reg ^= byte;
    for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
  }
  reg += static_cast<std::uint32_t>(bytes.size());
  return reg == 0 ? 1 : reg;
}

std::uint16_t RefBucket(std::uint32_t key, std::uint16_t n) {
  std::uint32_t x = key + n;
  x = x * 134775813u + 1u;
  x ^= x << 17;
  x ^= x >> 13;
  x ^= x << 5;
  return static_cast<std::uint16_t>(((static_cast<std::uint64_t>(x) * n) >> 32) + 1);
}

// Values the game never uses still take two characters: their digits below 100, "??" above.
std::string RefText(const Record& bytes) {
  std::string text;
  for (std::uint8_t value : bytes) {
    if (!text.empty()) text += ' ';
    if (value < 100) {
      text += static_cast<char>('0' + value / 10);
      text += static_cast<char>('0' + value % 10);
    } else {
      text += "??";
    }
  }
  return text;
}

std::string RefLine(const Record& record, std::uint16_t n) {
  return RefText(record) + " / " + std::to_string(RefBucket(RefKey(record), n)) + "\r\n";
}

std::string RefLines(const std::vector<Record>& records, std::uint16_t n) {
  std::string lines;
  for (const Record& record : records) lines += RefLine(record, n);
  return lines;
}

// A record from the values as read; each is stored as its low 8 bits.
Record Rec(std::initializer_list<long long> values) {
  Record record;
  for (long long value : values) record.push_back(static_cast<std::uint8_t>(value));
  return record;
}

Record Iota(int first, int count) {
  Record record;
  for (int i = 0; i < count; ++i) record.push_back(static_cast<std::uint8_t>(first + i));
  return record;
}

Record Zeros(int count) { return Record(static_cast<std::size_t>(count), 0); }

// The records a user feeds the tool: sorted distinct draws of `width` from 1..`top`.
std::vector<Record> Draws(std::size_t count, int width, int top, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Record> records;
  records.reserve(count);
  std::vector<std::uint8_t> pool;
  for (std::size_t r = 0; r < count; ++r) {
    pool.clear();
    for (int v = 1; v <= top; ++v) pool.push_back(static_cast<std::uint8_t>(v));
    for (int i = 0; i < width; ++i) {
      std::uniform_int_distribution<int> pick(i, top - 1);
      std::swap(pool[static_cast<std::size_t>(i)], pool[static_cast<std::size_t>(pick(rng))]);
    }
    Record record(pool.begin(), pool.begin() + width);
    std::sort(record.begin(), record.end());
    records.push_back(std::move(record));
  }
  return records;
}

// The plain input form: numbers between single blanks, CR LF after each record.
std::string PlainInput(const std::vector<Record>& records) {
  std::string text;
  for (const Record& record : records) {
    for (std::size_t i = 0; i < record.size(); ++i) {
      if (i != 0) text += ' ';
      text += std::to_string(record[i]);
    }
    text += "\r\n";
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// Known answers that do not depend on the reference above.

constexpr std::uint16_t kN = 49;  // the bucket count used wherever the value does not matter
const std::string kLine123456 = "01 02 03 04 05 06 / 33\r\n";  // hashbin6, N = 49
const std::string kZeroLine6 = "00 00 00 00 00 00 / 42\r\n";   // hashbin6, N = 49

// The check points of a run, as the failure report shows them.
enum Site : int {
  kReadRecord = 1,
  kWriteLine = 2,
  kEndTest = 3,
  kCloseInput = 4,
  kCloseOutput = 5
};

std::string Report(std::string_view module, int site, std::string_view message) {
  char location[9];
  std::snprintf(location, sizeof location, "%08X", static_cast<unsigned>(site));
  return "Exception EInOutError in module "s + std::string(module) + " at " + location + ".\r\n" +
         std::string(message) + ".\r\n\r\n";
}

// ---------------------------------------------------------------------------------------------
// Files and scratch directories.

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "hashbin-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    }
    root_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const fs::path& root() const { return root_; }
  fs::path operator/(std::string_view name) const { return root_ / name; }
  void Write(std::string_view name, std::string_view bytes) const {
    WriteFile(root_ / name, bytes);
  }
  std::string Read(std::string_view name) const { return ReadFile(root_ / name); }
  bool Has(std::string_view name) const { return fs::exists(fs::symlink_status(root_ / name)); }

  // Everything below the root, so that a refusal can be shown to have changed nothing.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
      const std::string name = fs::relative(entry.path(), root_).string();
      if (entry.is_symlink()) {
        entries[name] = "symlink to " + fs::read_symlink(entry.path()).string();
      } else if (entry.is_directory()) {
        entries[name] = "directory";
      } else {
        entries[name] = ReadFile(entry.path());
      }
    }
    return entries;
  }

 private:
  fs::path root_;
};

// Compares long outputs without printing megabytes: sizes and the first difference.
::testing::AssertionResult SameBytes(std::string_view actual, std::string_view expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const std::size_t common = std::min(actual.size(), expected.size());
  std::size_t at = 0;
  while (at < common && actual[at] == expected[at]) ++at;
  const std::size_t from = at < 40 ? 0 : at - 40;
  return ::testing::AssertionFailure()
         << "got " << actual.size() << " bytes, expected " << expected.size()
         << "; first difference at byte " << at
         << "\n  got:      " << ::testing::PrintToString(std::string(actual.substr(from, 80)))
         << "\n  expected: " << ::testing::PrintToString(std::string(expected.substr(from, 80)));
}

// ---------------------------------------------------------------------------------------------
// Running a program.

std::string ProgramPath(std::string_view name) { return HASHBIN_BIN_DIR "/"s + std::string(name); }

struct RunOptions {
  std::string cwd;                         // the child's working directory
  std::optional<std::string> stdin_bytes;  // fed through a pipe, then closed; else /dev/null
  bool stdin_pipe = false;                 // a pipe the test writes to and closes itself
  int stdin_fd = -1;                       // the child's stdin, when neither of those
  int stdout_fd = -1;                      // the child's stdout instead of a captured pipe
  std::string stderr_path;                 // the child's stderr goes to this file
  std::optional<rlim_t> file_size_limit;   // RLIMIT_FSIZE in the child
  std::string argv0;                       // argv[0], when not the program's path
};

struct Outcome {
  bool exited = false;
  int status = -1;  // the exit status when exited
  int signal = 0;   // the signal that ended it otherwise
  std::string out;
  std::string err;
};

std::ostream& operator<<(std::ostream& os, const Outcome& outcome) {
  os << (outcome.exited ? "exit " + std::to_string(outcome.status)
                        : "signal " + std::to_string(outcome.signal))
     << ", stdout " << ::testing::PrintToString(outcome.out.substr(0, 200)) << ", stderr "
     << ::testing::PrintToString(outcome.err.substr(0, 400));
  return os;
}

// Reads from `fd` until `wanted` bytes have come, the end, or `wait_ms` without a byte; returns
// what came.
std::string ReadFrom(int fd, std::size_t wanted, int wait_ms) {
  std::string got;
  while (got.size() < wanted) {
    struct pollfd entry {
      fd, POLLIN, 0
    };
    const int ready = poll(&entry, 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[4096];
    const ssize_t count = read(fd, buffer, std::min(sizeof buffer, wanted - got.size()));
    if (count <= 0) break;
    got.append(buffer, static_cast<std::size_t>(count));
  }
  return got;
}

class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args, const RunOptions& options)
      : stdin_bytes_(options.stdin_bytes) {
    // The test writes to pipes whose reader may be gone; the child gets the default back.
    signal(SIGPIPE, SIG_IGN);
    const bool stdin_is_pipe = options.stdin_bytes.has_value() || options.stdin_pipe;
    int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
    if (stdin_is_pipe && pipe2(in_pipe, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";
    if (options.stdout_fd < 0 && pipe2(out_pipe, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";
    if (options.stderr_path.empty() && pipe2(err_pipe, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";

    // Everything the child needs is made before the fork; after it only plain system calls.
    std::vector<std::string> argv_text;
    argv_text.push_back(options.argv0.empty() ? program : options.argv0);
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_text) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const char* cwd = options.cwd.empty() ? nullptr : options.cwd.c_str();
    const char* stderr_path = options.stderr_path.empty() ? nullptr : options.stderr_path.c_str();

    pid_ = fork();
    if (pid_ < 0) {
      ADD_FAILURE() << "fork: " << std::strerror(errno);
      return;
    }
    if (pid_ == 0) {
      struct sigaction defaults {};
      defaults.sa_handler = SIG_DFL;
      sigaction(SIGPIPE, &defaults, nullptr);
      sigaction(SIGXFSZ, &defaults, nullptr);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      const int in = stdin_is_pipe           ? in_pipe[0]
                     : options.stdin_fd >= 0 ? options.stdin_fd
                                             : open("/dev/null", O_RDONLY);
      const int out = options.stdout_fd >= 0 ? options.stdout_fd : out_pipe[1];
      const int err = stderr_path != nullptr ? open(stderr_path, O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                             : err_pipe[1];
      if (in < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
        _exit(126);
      }
      if (cwd != nullptr && chdir(cwd) != 0) _exit(126);
      if (options.file_size_limit) {
        const struct rlimit limit { *options.file_size_limit, *options.file_size_limit };
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      }
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    CloseFd(in_pipe[0]);
    CloseFd(out_pipe[1]);
    CloseFd(err_pipe[1]);
    stdin_ = in_pipe[1];
    stdout_ = out_pipe[0];
    stderr_ = err_pipe[0];
    if (stdin_ >= 0) fcntl(stdin_, F_SETFL, O_NONBLOCK);
  }

  ~Child() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    CloseFd(stdin_);
    CloseFd(stdout_);
    CloseFd(stderr_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The write end of the child's stdin, with RunOptions::stdin_pipe.
  int stdin_fd() const { return stdin_; }
  void CloseStdin() { CloseFd(stdin_); }

  // The read end of the child's captured stdout.
  int stdout_fd() const { return stdout_; }

  // Feeds the rest of stdin, collects stdout and stderr to their ends and waits for the exit.
  Outcome Finish() {
    Outcome outcome;
    if (pid_ <= 0) return outcome;
    if (!stdin_bytes_) CloseStdin();
    std::size_t fed = 0;
    while (stdin_ >= 0 || stdout_ >= 0 || stderr_ >= 0) {
      std::vector<struct pollfd> entries;
      if (stdin_ >= 0) entries.push_back({stdin_, POLLOUT, 0});
      if (stdout_ >= 0) entries.push_back({stdout_, POLLIN, 0});
      if (stderr_ >= 0) entries.push_back({stderr_, POLLIN, 0});
      const int ready = poll(entries.data(), entries.size(), kStallGuardMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) {
        ADD_FAILURE() << "the program made no progress for " << kStallGuardMs / 1000 << " s";
        kill(pid_, SIGKILL);
        break;
      }
      for (const struct pollfd& entry : entries) {
        if (entry.revents == 0) continue;
        if (entry.fd == stdin_) {
          const std::string& bytes = *stdin_bytes_;
          const ssize_t count =
              fed < bytes.size() ? write(stdin_, bytes.data() + fed, bytes.size() - fed) : 0;
          if (count > 0) fed += static_cast<std::size_t>(count);
          if (fed == bytes.size() || (count < 0 && errno != EAGAIN && errno != EINTR)) {
            CloseStdin();
          }
        } else {
          std::string& sink = entry.fd == stdout_ ? outcome.out : outcome.err;
          char buffer[65536];
          const ssize_t count = read(entry.fd, buffer, sizeof buffer);
          if (count > 0) {
            sink.append(buffer, static_cast<std::size_t>(count));
          } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
            CloseFd(entry.fd == stdout_ ? stdout_ : stderr_);
          }
        }
      }
    }
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    outcome.exited = WIFEXITED(status);
    if (outcome.exited) outcome.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    return outcome;
  }

 private:
  // Only against a hang: a run that works makes progress long before this.
  static constexpr int kStallGuardMs = 120'000;

  static void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }

  std::optional<std::string> stdin_bytes_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int stdin_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
};

Outcome RunProgram(std::string_view program, const std::vector<std::string>& args,
                   const RunOptions& options) {
  return Child(ProgramPath(program), args, options).Finish();
}

// Most runs: in a scratch directory, nothing on stdin.
Outcome RunIn(const Scratch& scratch, std::string_view program,
              const std::vector<std::string>& args) {
  RunOptions options;
  options.cwd = scratch.root().string();
  return RunProgram(program, args, options);
}

// A run that did its job: status 0 and not a word on either stream.
void ExpectSuccess(const Outcome& outcome) {
  EXPECT_TRUE(outcome.exited && outcome.status == 0) << outcome;
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
}

// A refusal: status 2, nothing on stdout, one line on stderr that names the program and says
// what is wrong.
void ExpectRefusal(const Outcome& outcome, std::string_view program,
                   const std::vector<std::string>& mentions) {
  EXPECT_TRUE(outcome.exited && outcome.status == 2) << outcome;
  EXPECT_EQ(outcome.out, "");
  EXPECT_TRUE(outcome.err.starts_with(std::string(program) + ": ")) << outcome.err;
  EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
  EXPECT_TRUE(outcome.err.ends_with("\n")) << outcome.err;
  for (const std::string& mention : mentions) {
    EXPECT_NE(outcome.err.find(mention), std::string::npos)
        << "the refusal should mention " << ::testing::PrintToString(mention) << ": "
        << outcome.err;
  }
}

// A failure report: status 1, the exact report on stderr, nothing on stdout.
void ExpectReport(const Outcome& outcome, std::string_view module, int site,
                  std::string_view message) {
  EXPECT_TRUE(outcome.exited && outcome.status == 1) << outcome;
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, Report(module, site, message));
}

// ---------------------------------------------------------------------------------------------
// Output lines of known records.

TEST(E2eKnownLines, EachProgramWritesTheDocumentedLines) {
  const std::string twenty_80 =
      "80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 / 35222\r\n";
  const struct {
    std::string program;
    std::string input;
    std::string n;
    std::string expected;
  } cases[] = {
      {"hashbin6", "1 2 3 4 5 6\r\n", "49", "01 02 03 04 05 06 / 33\r\n"},
      {"hashbin6", "1 2 3 4 5 6\r\n", "40000", "01 02 03 04 05 06 / 29372\r\n"},
      {"hashbin6", "1 2 3 4 5 6\r\n", "100", "01 02 03 04 05 06 / 64\r\n"},
      {"hashbin6", "1 2 3 4 5 6\r\n", "65535", "01 02 03 04 05 06 / 4672\r\n"},
      {"hashbin6", "1 2 3 4 5 6\r\n", "2", "01 02 03 04 05 06 / 1\r\n"},
      {"hashbin10", "1 2 3 4 5 6 7 8 9 10\r\n", "10", "01 02 03 04 05 06 07 08 09 10 / 8\r\n"},
      {"hashbin10", "1 2 3 4 5 6 7 8 9 10\r\n", "100", "01 02 03 04 05 06 07 08 09 10 / 35\r\n"},
      {"hashbin10", "1 2 3 4 5 6 7 8 9 10\r\n", "65535",
       "01 02 03 04 05 06 07 08 09 10 / 45821\r\n"},
      {"hashbin10", "1 2 3 4 5 6 7 8 9 10\r\n", "2", "01 02 03 04 05 06 07 08 09 10 / 1\r\n"},
      {"hashbin20", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20\r\n", "2",
       "01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16 17 18 19 20 / 1\r\n"},
      {"hashbin20", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20\r\n", "100",
       "01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16 17 18 19 20 / 43\r\n"},
      {"hashbin20", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20\r\n", "65535",
       "01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16 17 18 19 20 / 16580\r\n"},
      {"hashbin20", "80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80\r\n", "65535",
       twenty_80},
      // An empty input still makes one record, of zeros.
      {"hashbin6", "", "49", "00 00 00 00 00 00 / 42\r\n"},
      {"hashbin10", "", "10", "00 00 00 00 00 00 00 00 00 00 / 2\r\n"},
      {"hashbin20", "", "2", "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 / 1\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program + " N=" + c.n + " input " + ::testing::PrintToString(c.input));
    Scratch scratch;
    scratch.Write("in.txt", c.input);
    ExpectSuccess(RunIn(scratch, c.program, {"in.txt", "out.txt", c.n}));
    EXPECT_EQ(scratch.Read("out.txt"), c.expected);
  }
}

// The rest of the expected lines come from the reference; it must give the known answers first.
TEST(E2eKnownLines, TheTestsReferenceGivesTheKnownAnswers) {
  const std::string digits = "123456789";
  EXPECT_EQ(RefKey(Record(digits.begin(), digits.end())), 0x340BC6E2u);
  EXPECT_EQ(RefKey(Rec({'a', 'b', 'c'})), 0xCADBBE40u);
  EXPECT_EQ(RefKey(Rec({0x1F, 0x06, 0x3B, 0xDB})), 1u);
  EXPECT_EQ(RefKey(Iota(1, 6)), 0x7E0988E1u);
  EXPECT_EQ(RefKey(Iota(1, 10)), 0xDADFA88Eu);
  EXPECT_EQ(RefKey(Iota(1, 20)), 0xA876201Bu);
  EXPECT_EQ(RefKey(Record(20, 80)), 0x76AA08D5u);
  EXPECT_EQ(RefKey(Zeros(6)), 0x4E3D5E62u);
  EXPECT_EQ(RefKey(Zeros(10)), 0x1C759793u);
  EXPECT_EQ(RefKey(Zeros(20)), 0xF02A6486u);
  EXPECT_EQ(RefBucket(0xFFFFFFFFu, 65535), 7996);
  EXPECT_EQ(RefBucket(1, 65535), 1128);
  EXPECT_EQ(RefLine(Iota(1, 6), 40000), "01 02 03 04 05 06 / 29372\r\n");
  EXPECT_EQ(RefLine(Record(20, 80), 65535),
            "80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 80 / 35222\r\n");
  EXPECT_EQ(RefLine(Zeros(6), kN), kZeroLine6);
}

// ---------------------------------------------------------------------------------------------
// The input format.

struct InputCase {
  std::string name;
  std::string program;
  std::string input;
  std::vector<Record> records;
};

TEST(E2eInputFormat, RecordsComeOutAsTheInputRulesMakeThem) {
  const std::string zeros32_1 = std::string(32, '0') + "1";
  const std::string zeros31_1 = std::string(31, '0') + "1";
  const std::vector<InputCase> cases = {
      {"one line, CR LF", "hashbin6", "1 2 3 4 5 6\r\n", {Iota(1, 6)}},
      {"the last line needs no line end", "hashbin6", "1 2 3 4 5 6", {Iota(1, 6)}},
      {"empty file", "hashbin6", "", {Zeros(6)}},
      {"blank lines only", "hashbin6", "\r\n\r\n", {Zeros(6)}},
      {"Ctrl-Z alone", "hashbin6", "\x1a", {Zeros(6)}},
      {"an empty line after the last", "hashbin6", "1 2 3 4 5 6\r\n\r\n", {Iota(1, 6), Zeros(6)}},
      {"blanks after the last line end", "hashbin6", "1 2 3 4 5 6\r\n   ", {Iota(1, 6), Zeros(6)}},
      {"Ctrl-Z after the last line end", "hashbin6", "1 2 3 4 5 6\r\n\x1a", {Iota(1, 6)}},
      {"leading blank lines", "hashbin6", "\r\n\r\n1 2 3 4 5 6\r\n", {Iota(1, 6)}},
      {"a short line continues, a long one loses its surplus",
       "hashbin6",
       "1 2 3\r\n4 5 6 7\r\n8 9 10 11 12 13\r\n",
       {Iota(1, 6), Iota(8, 6)}},
      {"surplus numbers are discarded",
       "hashbin6",
       "1 2 3 4 5 6 7 8\r\n9 10 11 12 13 14\r\n",
       {Iota(1, 6), Iota(9, 6)}},
      {"LF line ends", "hashbin6", "1 2 3 4 5 6\n7 8 9 10 11 12\n", {Iota(1, 6), Iota(7, 6)}},
      {"a lone CR ends no line",
       "hashbin6",
       "1 2 3 4 5 6\r7 8 9 10 11 12\r\n13 14 15 16 17 18\r19 20 21 22 23 24\r\n25 26 27 28 29 30",
       {Iota(1, 6), Iota(13, 6), Iota(25, 6)}},
      {"nothing after a Ctrl-Z is read",
       "hashbin6",
       "1 2 3 4 5 6\r\n\x1a"
       "7 8 9 10 11 12\r\n",
       {Iota(1, 6)}},
      {"a Ctrl-Z among surplus numbers ends the input",
       "hashbin6",
       "1 2 3 4 5 6 7\x1a\r\n8 9 10 11 12 13\r\n",
       {Iota(1, 6)}},
      {"a Ctrl-Z inside a record ends it with zeros",
       "hashbin6",
       "1 2 3\x1a"
       "4 5 6\r\n",
       {Rec({1, 2, 3, 0, 0, 0})}},
      {"TAB and NUL are blanks",
       "hashbin6",
       "1\t2\0"
       "3 4 5 6\r\n"s,
       {Iota(1, 6)}},
      {"hexadecimal, signs and leading zeros",
       "hashbin6",
       "0x10 $10 x10 -1 +7 010\r\n",
       {Rec({16, 16, 16, 255, 7, 10})}},
      {"a run of 33 characters is two numbers",
       "hashbin6",
       zeros32_1 + " 2 3 4 5\r\n",
       {Rec({0, 1, 2, 3, 4, 5})}},
      {"a run of 32 characters is one number",
       "hashbin6",
       zeros31_1 + " 2 3 4 5 6\r\n",
       {Iota(1, 6)}},
      {"low 8 bits are stored; values outside 1..80 keep three characters",
       "hashbin6",
       "300 256 -1 100 81 99\r\n",
       {Rec({44, 0, 255, 100, 81, 99})}},
      {"hexadecimal patterns are two's complement",
       "hashbin6",
       "$FFFFFFFF $80000001 -$FFFFFFFE $0FFFFFF03 -2147483648 2147483647\r\n",
       {Rec({255, 1, 2, 3, 0, 255})}},
      {"surplus tokens are never converted", "hashbin6", "1 2 3 4 5 6 7,8 $ 0xg\r\n", {Iota(1, 6)}},
      {"a number directly before Ctrl-Z is read whole",
       "hashbin6",
       "1 2 3 4 5 66\x1a",
       {Rec({1, 2, 3, 4, 5, 66})}},
      {"width 10 across lines",
       "hashbin10",
       "1 2 3\n\n4 5 6 7 8 9 10 11\n12\n",
       {Iota(1, 10), Rec({12, 0, 0, 0, 0, 0, 0, 0, 0, 0})}},
      {"width 20 ended by Ctrl-Z",
       "hashbin20",
       "1 2 3 4 5 6 7 8 9 10\r\n11 12 13 14 15\x1a"
       "16 17 18 19 20\r\n",
       {Rec({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 0, 0, 0, 0})}},
  };
  for (const InputCase& c : cases) {
    SCOPED_TRACE(c.program + ": " + c.name);
    Scratch scratch;
    scratch.Write("in", c.input);
    ExpectSuccess(RunIn(scratch, c.program, {"in", "out", "49"}));
    EXPECT_EQ(scratch.Read("out"), RefLines(c.records, kN));
  }
}

TEST(E2eInputFormat, ABadTokenEndsTheRunBeforeItsRecordIsWritten) {
  const struct {
    std::string name;
    std::string program;
    std::string input;
  } cases[] = {
      {"commas", "hashbin6", "1,2,3,4,5,6\r\n7 8 9 10 11 12\r\n"},
      {"out of range", "hashbin6", "1 2 3 4 5 99999999999\r\n"},
      {"a byte-order mark", "hashbin6",
       "\xEF\xBB\xBF"
       "1 2 3 4 5 6\r\n"},
      {"two bad tokens", "hashbin6", "1 a 3 b 5 6\r\n"},
      {"a bad last token without line end", "hashbin10", "1 2 3 4 5 6 7 8 9 1O"},
      {"a bad token on a continuation line", "hashbin20",
       "1 2 3 4 5 6 7 8 9 10\r\n11 12 13 14 15 16 17 18 19 2O\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program + ": " + c.name);
    Scratch scratch;
    scratch.Write("in", c.input);
    scratch.Write("out", "held data before the run\r\n");
    ExpectReport(RunIn(scratch, c.program, {"in", "out", "49"}), c.program, kReadRecord,
                 "Invalid numeric input");
    EXPECT_EQ(scratch.Read("out"), "");
  }
}

// Every form the reader accepts, mixed with plain lines, so that odd records land at every spot of
// the read buffer, also across its ends; the stored values are known by construction.
struct MixedInput {
  std::string text;
  std::vector<Record> records;
};

MixedInput MakeMixedInput(std::size_t record_count, int width, std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto chance = [&rng](int percent) { return static_cast<int>(rng() % 100) < percent; };
  auto hex = [](unsigned value, bool upper) {
    char digits[16];
    std::snprintf(digits, sizeof digits, upper ? "%X" : "%x", value);
    return std::string(digits);
  };
  // A token of any accepted form whose low 8 bits are `v`.
  auto odd_token = [&](unsigned v) -> std::string {
    switch (rng() % 9) {
      case 0: {
        const std::string digits = std::to_string(v);
        const std::size_t zeros = 1 + rng() % (32 - digits.size());
        return std::string(zeros, '0') + digits;  // at most 32 characters: still one token
      }
      case 1:
        return "$" + hex(v, true);
      case 2:
        return "0x" + hex(v, false);
      case 3:
        return "X" + hex(v, rng() % 2 == 0);
      case 4:
        return "+" + std::to_string(v);
      case 5:
        return std::to_string(v + 256 * (1 + rng() % 8000000));
      case 6:
        return "-" + std::to_string(256 - v);
      case 7:
        return "-$" + hex(256 - v, true);
      default:
        return "$FFFFFF" + std::string(v < 16 ? "0" : "") + hex(v, true);
    }
  };
  static const char* const kBlanks[] = {"  ", "\t", "\r", "\v", "\f", "\x1b", " \t "};
  static const char* const kLineBreaks[] = {"\r\n", "\n", "\r\n\r\n", " \t\r\n"};
  static const char* const kTails[] = {" 7 junk,1 0x $", "\r77 88", " \t", "\r", " 1 2 3 4 5 6"};

  MixedInput mixed;
  for (std::size_t r = 0; r < record_count; ++r) {
    // Plain lines, lines with one thing that is not plain, and lines with anything anywhere.
    const int kind = static_cast<int>(rng() % 10);
    const bool plain = kind < 4;
    const bool nearly_plain = kind >= 4 && kind < 7;
    Record record;
    for (int i = 0; i < width; ++i) {
      const bool odd_value = !plain && chance(nearly_plain ? 3 : 20);
      record.push_back(static_cast<std::uint8_t>(odd_value ? rng() % 256 : 1 + rng() % 80));
    }
    std::vector<std::string> tokens;
    std::vector<std::string> separators;
    for (std::size_t i = 0; i < record.size(); ++i) {
      const bool odd = kind >= 7 && chance(60);
      tokens.push_back(odd ? odd_token(record[i]) : std::to_string(record[i]));
      if (i + 1 == record.size()) break;
      std::string separator = " ";
      if (kind >= 7 && chance(40)) {
        separator = chance(20)   ? kLineBreaks[rng() % 4]  // the record goes on on the next line
                    : chance(10) ? "\0"s
                                 : kBlanks[rng() % 7];
      }
      separators.push_back(separator);
    }
    std::string tail = kind >= 7 && chance(30) ? kTails[rng() % 5] : "";
    std::string line_end = kind >= 7 && chance(40) ? "\n" : "\r\n";
    if (nearly_plain) {
      const std::size_t at = rng() % record.size();
      switch (rng() % 7) {
        case 0:
          tokens[at] = odd_token(record[at]);
          break;
        case 1:
          if (at < separators.size()) separators[at] = kBlanks[rng() % 7];
          break;
        case 2:
          tail = kTails[rng() % 5];
          break;
        case 3:
          line_end = "\n";
          break;
        case 4:
          line_end = "\r\r\n";
          break;
        case 5:
          tokens[at] = "0" + tokens[at];
          break;
        default:
          tokens[at] = std::to_string(record[at] + 256);
          break;
      }
    }
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      mixed.text += tokens[i];
      if (i < separators.size()) mixed.text += separators[i];
    }
    mixed.text += tail + line_end;
    if (kind >= 7 && chance(10) && r + 1 < record_count) {
      mixed.text += chance(50) ? "\r\n" : " \t\n";  // a blank line between records
    }
    mixed.records.push_back(std::move(record));
  }
  mixed.text +=
      "\x1a"
      "1,2,3 after the end mark\r\n";
  return mixed;
}

TEST(E2eInputFormat, LargeMixedInputGivesExactlyTheReferenceLines) {
  for (const int width : {6, 10, 20}) {
    const std::string program = "hashbin" + std::to_string(width);
    SCOPED_TRACE(program);
    const MixedInput mixed = MakeMixedInput(40000, width, 7u + static_cast<std::uint32_t>(width));
    Scratch scratch;
    scratch.Write("in", mixed.text);
    ExpectSuccess(RunIn(scratch, program, {"in", "out", "65535"}));
    EXPECT_TRUE(SameBytes(scratch.Read("out"), RefLines(mixed.records, 65535)));
  }
}

TEST(E2eInputFormat, TheBundledExampleGivesItsExpectedOutput) {
  const fs::path input = fs::path(HASHBIN_EXAMPLE_DIR) / "draws6.txt";
  const fs::path expected = fs::path(HASHBIN_EXAMPLE_DIR) / "draws6.expected";
  if (!fs::exists(input) || !fs::exists(expected)) GTEST_SKIP() << "no bundled example";
  // The example is plain draws, one per line, for N = 49; its expected file must agree with
  // the reference as well as with the program.
  std::vector<Record> records;
  std::istringstream lines(ReadFile(input));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream numbers(line);
    Record record;
    for (int value; numbers >> value;) record.push_back(static_cast<std::uint8_t>(value));
    if (!record.empty()) records.push_back(record);
  }
  EXPECT_TRUE(SameBytes(ReadFile(expected), RefLines(records, kN)));

  Scratch scratch;
  ExpectSuccess(RunIn(scratch, "hashbin6", {input.string(), "out", "49"}));
  EXPECT_TRUE(SameBytes(scratch.Read("out"), ReadFile(expected)));
}

// ---------------------------------------------------------------------------------------------
// Arguments and files that work.

TEST(E2eArguments, EmptyArgumentsVanishAndNamesAreTakenWhole) {
  const std::string long_dir = std::string(200, 'd') + "/" + std::string(200, 'e') + "/" +
                               std::string(200, 'f') + "/" + std::string(200, 'g');
  const struct {
    std::string name;
    std::vector<std::string> args;
    std::string input_name;
    std::string output_name;
  } cases[] = {
      {"an empty argument in the middle", {"in", "", "out", "49"}, "in", "out"},
      {"empty arguments first and last", {"", "in", "out", "", "49", ""}, "in", "out"},
      {"names with blanks",
       {"my draws.txt", "my buckets.txt", "49"},
       "my draws.txt",
       "my buckets.txt"},
      {"a name with quotes and a backslash",
       {"in\"1\\", "out \"2\"", "49"},
       "in\"1\\",
       "out \"2\""},
      {"names longer than 259 characters",
       {long_dir + "/in", long_dir + "/out", "49"},
       long_dir + "/in",
       long_dir + "/out"},
      {"N in hexadecimal", {"in", "out", "$31"}, "in", "out"},
      {"N after leading blanks", {"in", "out", "  49"}, "in", "out"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    fs::create_directories((scratch / c.input_name).parent_path());
    scratch.Write(c.input_name, "1 2 3 4 5 6\r\n");
    ExpectSuccess(RunIn(scratch, "hashbin6", c.args));
    EXPECT_EQ(scratch.Read(c.output_name), kLine123456);
  }
}

TEST(E2eArguments, DevicesAndPipesAreNeverTheSameFile) {
  {
    SCOPED_TRACE("/dev/null as output");
    Scratch scratch;
    scratch.Write("in", "1 2 3 4 5 6\r\n");
    ExpectSuccess(RunIn(scratch, "hashbin6", {"in", "/dev/null", "49"}));
  }
  {
    SCOPED_TRACE("/dev/null as input and output");
    Scratch scratch;
    ExpectSuccess(RunIn(scratch, "hashbin6", {"/dev/null", "/dev/null", "49"}));
  }
  {
    SCOPED_TRACE("/dev/stdin to /dev/stdout through pipes");
    const std::vector<Record> records = Draws(5000, 6, 49, 11);
    RunOptions options;
    options.stdin_bytes = PlainInput(records);
    const Outcome outcome = RunProgram("hashbin6", {"/dev/stdin", "/dev/stdout", "49"}, options);
    EXPECT_TRUE(outcome.exited && outcome.status == 0) << outcome;
    EXPECT_EQ(outcome.err, "");
    EXPECT_TRUE(SameBytes(outcome.out, RefLines(records, kN)));
  }
}

// ---------------------------------------------------------------------------------------------
// Refusals: status 2, one line on stderr, and nothing in the directory changed.

struct RefusalCase {
  std::string name;
  std::vector<std::string> args;
  std::vector<std::string> mentions;
  std::function<void(const Scratch&)> setup;
  std::string program = "hashbin6";
  std::string stdin_from = "";  // a file of the scratch directory as the program's stdin
};

void WriteInput(const Scratch& scratch) { scratch.Write("in", "1 2 3 4 5 6\r\n"); }

void WriteInputAndOutput(const Scratch& scratch) {
  WriteInput(scratch);
  scratch.Write("out", "precious lines\r\nof an earlier run\r\n");
}

TEST(E2eRefusals, NothingIsReadCreatedOrChanged) {
  const std::string usage = "usage: hashbin6 INPUT OUTPUT N";
  const std::string enoent = std::strerror(ENOENT);
  const std::string eisdir = std::strerror(EISDIR);
  const std::vector<RefusalCase> cases = {
      {"no arguments", {}, {usage, "65535"}, WriteInput},
      {"two arguments", {"in", "out"}, {usage, "65535"}, WriteInput},
      {"four arguments", {"in", "out", "49", "7"}, {usage, "65535"}, WriteInputAndOutput},
      {"N that vanishes", {"in", "out", ""}, {usage}, WriteInputAndOutput},
      {"only empty arguments", {"", "", ""}, {usage}, WriteInput},
      {"usage of hashbin10", {"in"}, {"usage: hashbin10 INPUT OUTPUT N"}, WriteInput, "hashbin10"},
      {"usage of hashbin20", {}, {"usage: hashbin20 INPUT OUTPUT N"}, WriteInput, "hashbin20"},
      {"N = 1, output kept", {"in", "out", "1"}, {}, WriteInputAndOutput},
      {"N = 0, output kept", {"in", "out", "0"}, {}, WriteInputAndOutput},
      {"N = -5, output kept", {"in", "out", "-5"}, {"-5"}, WriteInputAndOutput},
      {"N = 65536, output kept", {"in", "out", "65536"}, {"65536"}, WriteInputAndOutput},
      {"N = abc, output kept", {"in", "out", "abc"}, {"abc"}, WriteInputAndOutput},
      {"N = 4.9, output kept", {"in", "out", "4.9"}, {"4.9"}, WriteInputAndOutput},
      {"N = 65536, no output made", {"in", "out", "65536"}, {"65536"}, WriteInput},
      {"bad N before a missing input", {"missing", "out", "x9z"}, {"x9z"}, nullptr},
      {"missing input", {"missing", "out", "49"}, {"missing", enoent}, nullptr},
      {"input is a directory",
       {"dir", "out", "49"},
       {"dir", eisdir},
       [](const Scratch& s) { fs::create_directory(s / "dir"); }},
      {"output in a missing directory",
       {"in", "nowhere/out", "49"},
       {"nowhere/out", enoent},
       WriteInput},
      {"output is a directory",
       {"in", "dir", "49"},
       {"dir", eisdir},
       [](const Scratch& s) {
         WriteInput(s);
         fs::create_directory(s / "dir");
       }},
      {"output is the input by its name", {"in", "in", "49"}, {"in"}, WriteInput},
      {"output is the input by another path", {"in", "./in", "49"}, {"./in"}, WriteInput},
      {"output is a hard link to the input",
       {"in", "link", "49"},
       {"link"},
       [](const Scratch& s) {
         WriteInput(s);
         fs::create_hard_link(s / "in", s / "link");
       }},
      {"output is a symbolic link to the input",
       {"in", "sym", "49"},
       {"sym"},
       [](const Scratch& s) {
         WriteInput(s);
         fs::create_symlink("in", s / "sym");
       }},
      {"input is stdin, redirected from the output",
       {"/dev/stdin", "out", "49"},
       {"out"},
       WriteInputAndOutput,
       "hashbin6",
       "out"},
      {"input is a symbolic link to the output",
       {"sym", "in", "49"},
       {"in"},
       [](const Scratch& s) {
         WriteInput(s);
         fs::create_symlink("in", s / "sym");
       }},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.program + ": " + c.name);
    Scratch scratch;
    if (c.setup) c.setup(scratch);
    const auto before = scratch.Snapshot();
    RunOptions options;
    options.cwd = scratch.root().string();
    if (!c.stdin_from.empty()) {
      options.stdin_fd = open((scratch / c.stdin_from).c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_GE(options.stdin_fd, 0);
    }
    ExpectRefusal(RunProgram(c.program, c.args, options), c.program, c.mentions);
    if (options.stdin_fd >= 0) close(options.stdin_fd);
    EXPECT_EQ(scratch.Snapshot(), before);
  }
}

// ---------------------------------------------------------------------------------------------
// Locks: a run never reads a file that is being written, nor writes one that is in use.

class OfdLock {
 public:
  OfdLock(const fs::path& path, short type) {
    fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    held_ = fd_ >= 0 && fcntl(fd_, F_OFD_SETLK, &lock) == 0;
  }
  ~OfdLock() {
    if (fd_ >= 0) close(fd_);
  }
  OfdLock(const OfdLock&) = delete;
  OfdLock& operator=(const OfdLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// The type of lock someone holds on `path`, F_UNLCK when none.
short LockHeldOn(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return F_UNLCK;
  struct flock query {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  const bool asked = fcntl(fd, F_OFD_GETLK, &query) == 0;
  close(fd);
  return asked ? query.l_type : F_UNLCK;
}

// Waits until another process holds a lock of `type` on `path`; false after 20 s without one.
bool AwaitLock(const fs::path& path, short type) {
  for (int i = 0; i < 2000; ++i) {
    if (LockHeldOn(path) == type) return true;
    usleep(10'000);
  }
  return false;
}

TEST(E2eLocks, FilesLockedByOthersAreRefusedOrSharedForReading) {
  const struct {
    std::string name;
    std::string locked;
    short type;
    bool refused;
    std::string mention;
  } cases[] = {
      {"input being written", "in", F_WRLCK, true, "in"},
      {"output being read", "out", F_RDLCK, true, "out"},
      {"output being written", "out", F_WRLCK, true, "out"},
      {"input being read as well", "in", F_RDLCK, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    WriteInputAndOutput(scratch);
    const OfdLock lock(scratch / c.locked, c.type);
    if (!lock.held()) GTEST_SKIP() << "this file system offers no open-file-description locks";
    const auto before = scratch.Snapshot();
    const Outcome outcome = RunIn(scratch, "hashbin6", {"in", "out", "49"});
    if (c.refused) {
      ExpectRefusal(outcome, "hashbin6", {c.mention});
      EXPECT_EQ(scratch.Snapshot(), before);
    } else {
      ExpectSuccess(outcome);
      EXPECT_EQ(scratch.Read("out"), kLine123456);
    }
  }
}

TEST(E2eLocks, TwoRunsNeverShareAFileThatOneWrites) {
  Scratch scratch;
  scratch.Write("probe", "");
  if (!OfdLock(scratch / "probe", F_RDLCK).held()) {
    GTEST_SKIP() << "this file system offers no open-file-description locks";
  }
  const std::vector<Record> records = Draws(250000, 6, 49, 5);
  const std::string lines = RefLines(records, kN);
  scratch.Write("big", PlainInput(records));
  scratch.Write("other", "7 8 9 10 11 12\r\n");
  const std::string big_before = scratch.Read("big");
  RunOptions in_scratch;
  in_scratch.cwd = scratch.root().string();

  {
    SCOPED_TRACE("a run reading a file");
    // Its output is a pipe nobody reads yet, so it stays in the middle of its run.
    Child reader(ProgramPath("hashbin6"), {"big", "/dev/stdout", "49"}, in_scratch);
    ASSERT_TRUE(AwaitLock(scratch / "big", F_RDLCK)) << "the run never locked its input";
    ExpectRefusal(RunIn(scratch, "hashbin6", {"other", "big", "49"}), "hashbin6", {"big"});
    EXPECT_TRUE(SameBytes(scratch.Read("big"), big_before));
    ExpectSuccess(RunIn(scratch, "hashbin6", {"big", "copy", "49"}));
    EXPECT_TRUE(SameBytes(scratch.Read("copy"), lines));
    const Outcome outcome = reader.Finish();
    EXPECT_TRUE(outcome.exited && outcome.status == 0) << outcome;
    EXPECT_TRUE(SameBytes(outcome.out, lines));
  }
  {
    SCOPED_TRACE("a run writing a file");
    RunOptions waiting = in_scratch;
    waiting.stdin_pipe = true;  // it waits for input that has not come
    Child writer(ProgramPath("hashbin6"), {"/dev/stdin", "held", "49"}, waiting);
    ASSERT_TRUE(AwaitLock(scratch / "held", F_WRLCK)) << "the run never locked its output";
    ExpectRefusal(RunIn(scratch, "hashbin6", {"held", "out", "49"}), "hashbin6", {"held"});
    EXPECT_FALSE(scratch.Has("out"));
    ExpectRefusal(RunIn(scratch, "hashbin6", {"other", "held", "49"}), "hashbin6", {"held"});
    ExpectSuccess(writer.Finish());
    EXPECT_EQ(scratch.Read("held"), kZeroLine6);
  }
}

// ---------------------------------------------------------------------------------------------
// Failures with real faults: the report, the status and what the output keeps.

TEST(E2eFailures, ABadTokenKeepsEveryCompleteLineBeforeIt) {
  // Lines of width 6 with N = 49 are 23 or 24 bytes; picks them to make exactly `total` bytes
  // when `exact`, else at least `total`.
  auto prefix_of = [](std::size_t total, bool exact) {
    auto can_make = [](std::size_t bytes) {
      for (std::size_t lines = 0; 23 * lines <= bytes; ++lines) {
        if (bytes <= 24 * lines) return true;
      }
      return false;
    };
    std::vector<Record> chosen;
    std::size_t made = 0;
    for (const Record& record : Draws(total / 10 + 100, 6, 49, 3)) {
      if (made >= total) break;
      const std::size_t size = RefLine(record, kN).size();
      if (exact && (made + size > total || !can_make(total - made - size))) continue;
      chosen.push_back(record);
      made += size;
    }
    return chosen;
  };
  const struct {
    std::string name;
    std::size_t bytes;
    bool exact;
    std::string bad_record;
  } cases[] = {
      {"in the first record", 0, true, "1 2 x 4 5 6\r\n"},
      {"after about 100 bytes", 100, false, "1 2 3 4 5 6,\r\n"},
      {"after exactly 256 bytes", 256, true, "1 2 3 4 5 6,\r\n"},
      {"after about 300 bytes", 300, false, "$ 2 3 4 5 6\r\n"},
      {"after more than a buffer", 300000, false, "1 2 3 4 5 -\r\n"},
      {"in the last record, without line end", 256, true, "1 2 3 4 5 0x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Record> before = prefix_of(c.bytes, c.exact);
    const std::string kept = RefLines(before, kN);
    if (c.exact) {
      ASSERT_EQ(kept.size(), c.bytes);
    }
    Scratch scratch;
    // A good record after the bad one must not be written either.
    const std::string after = c.bad_record.ends_with("\n") ? "7 8 9 10 11 12\r\n" : "";
    scratch.Write("in", PlainInput(before) + c.bad_record + after);
    scratch.Write("out", "data of an earlier run\r\n");
    ExpectReport(RunIn(scratch, "hashbin6", {"in", "out", "49"}), "hashbin6", kReadRecord,
                 "Invalid numeric input");
    EXPECT_TRUE(SameBytes(scratch.Read("out"), kept));
  }
}

TEST(E2eFailures, WriteFailuresAreReportedWithTheSystemsCode) {
  enum class Sink { kDevFull, kFileSizeLimit, kClosedPipe };
  const std::vector<Record> few = Draws(20, 6, 49, 1);
  // More than any output buffer the tool may use (its memory stays below 4 MB), so that a block
  // write fails before the close.
  const std::vector<Record> many = Draws(250000, 6, 49, 2);
  const struct {
    std::string name;
    Sink sink;
    const std::vector<Record>* records;
    rlim_t limit;
    std::string message;
    int site;
  } cases[] = {
      // A character device gets each line at its end, so the first line already fails.
      {"/dev/full", Sink::kDevFull, &few, 0, "I/O error 112", kWriteLine},
      {"file-size limit, a small output fails at its close", Sink::kFileSizeLimit, &few, 100,
       "I/O error 223", kCloseOutput},
      {"file-size limit, a large output fails in a block write", Sink::kFileSizeLimit, &many, 65536,
       "I/O error 223", kWriteLine},
      {"pipe without reader, small output", Sink::kClosedPipe, &few, 0, "I/O error 232",
       kCloseOutput},
      {"pipe without reader, large output", Sink::kClosedPipe, &many, 0, "I/O error 232",
       kWriteLine},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    scratch.Write("in", PlainInput(*c.records));
    RunOptions options;
    options.cwd = scratch.root().string();
    std::string output = "out";
    int pipe_ends[2] = {-1, -1};
    switch (c.sink) {
      case Sink::kDevFull:
        output = "/dev/full";
        break;
      case Sink::kFileSizeLimit:
        options.file_size_limit = c.limit;
        break;
      case Sink::kClosedPipe:
        ASSERT_EQ(pipe2(pipe_ends, O_CLOEXEC), 0);
        close(pipe_ends[0]);  // the reader is gone before the run starts
        options.stdout_fd = pipe_ends[1];
        output = "/dev/stdout";
        break;
    }
    const Outcome outcome = RunProgram("hashbin6", {"in", output, "49"}, options);
    if (pipe_ends[1] >= 0) close(pipe_ends[1]);
    EXPECT_EQ(outcome.signal, 0) << "no run may end by a signal";
    ExpectReport(outcome, "hashbin6", c.site, c.message);
    if (c.sink == Sink::kFileSizeLimit) {
      // The system takes bytes up to the limit; every one of them is kept.
      EXPECT_TRUE(SameBytes(scratch.Read("out"), RefLines(*c.records, kN).substr(0, c.limit)));
    }
  }
}

TEST(E2eFailures, AReadFailureIsReportedWithTheSystemsCode) {
  // Reading a process's own memory at offset 0 fails with EIO.
  Scratch scratch;
  scratch.Write("out", "data of an earlier run\r\n");
  ExpectReport(RunIn(scratch, "hashbin6", {"/proc/self/mem", "out", "49"}), "hashbin6", kReadRecord,
               "I/O error 1117");
  EXPECT_EQ(scratch.Read("out"), "");
}

TEST(E2eFailures, TheReportGoesToStderrAloneAndNamesTheRunningFile) {
  {
    SCOPED_TRACE("stderr redirected to a file");
    Scratch scratch;
    scratch.Write("in", "1 2 3 4 5 6\r\n7 8 nine 10\r\n");
    RunOptions options;
    options.cwd = scratch.root().string();
    options.stderr_path = (scratch / "errors").string();
    const Outcome outcome = RunProgram("hashbin10", {"in", "out", "49"}, options);
    EXPECT_TRUE(outcome.exited && outcome.status == 1) << outcome;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(scratch.Read("errors"), Report("hashbin10", kReadRecord, "Invalid numeric input"));
    EXPECT_EQ(scratch.Read("out"), "");  // ten numbers: both lines make the first record
  }
  {
    SCOPED_TRACE("a copy under another name, started under a third");
    Scratch scratch;
    fs::copy_file(ProgramPath("hashbin20"), scratch / "draw-sorter");
    fs::permissions(scratch / "draw-sorter", fs::perms::owner_all);
    scratch.Write("in", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20\r\n$$\r\n");
    RunOptions options;
    options.cwd = scratch.root().string();
    options.argv0 = "hashbin6";
    const Outcome failed =
        Child((scratch / "draw-sorter").string(), {"in", "out", "2"}, options).Finish();
    ExpectReport(failed, "draw-sorter", kReadRecord, "Invalid numeric input");
    EXPECT_EQ(scratch.Read("out"),
              "01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16 17 18 19 20 / 1\r\n");
    const Outcome refused = Child((scratch / "draw-sorter").string(), {}, options).Finish();
    ExpectRefusal(refused, "draw-sorter", {"usage: draw-sorter INPUT OUTPUT N"});
  }
}

// ---------------------------------------------------------------------------------------------
// Streaming: each record's line reaches a pipe before the program waits for the next record.

TEST(E2eStreaming, EachLineComesOutBeforeTheInputEnds) {
  // Fails only by never getting the line; the wait is a guard, not a measure of speed.
  constexpr int kPatienceMs = 20'000;
  RunOptions options;
  options.stdin_pipe = true;
  Child child(ProgramPath("hashbin6"), {"/dev/stdin", "/dev/stdout", "49"}, options);
  const struct {
    std::string record;
    std::string line;
  } steps[] = {
      {"1 2 3 4 5 6\r\n", kLine123456},
      {"7 8 9 10 11 12\n", RefLine(Iota(7, 6), kN)},
      {"13 14 15\r\n16 17 18\r\n", RefLine(Iota(13, 6), kN)},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.record);
    ASSERT_EQ(write(child.stdin_fd(), step.record.data(), step.record.size()),
              static_cast<ssize_t>(step.record.size()));
    ASSERT_EQ(ReadFrom(child.stdout_fd(), step.line.size(), kPatienceMs), step.line);
  }
  child.CloseStdin();
  const Outcome outcome = child.Finish();
  EXPECT_TRUE(outcome.exited && outcome.status == 0) << outcome;
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
}

TEST(E2eStreaming, ATerminalGetsEachLineWhenItsRecordIsTyped) {
  constexpr int kPatienceMs = 20'000;
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
    GTEST_SKIP() << "no pseudo-terminals here";
  }
  const int program_side = open(ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(program_side, 0);
  // Lines as typed, but no echo and the program's bytes passed on unchanged.
  struct termios mode {};
  ASSERT_EQ(tcgetattr(program_side, &mode), 0);
  mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
  mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  ASSERT_EQ(tcsetattr(program_side, TCSANOW, &mode), 0);

  RunOptions options;
  options.stdin_fd = program_side;
  options.stdout_fd = program_side;
  Child child(ProgramPath("hashbin6"), {"/dev/stdin", "/dev/stdout", "49"}, options);
  close(program_side);
  const struct {
    std::string typed;
    std::string line;
  } steps[] = {
      {"1 2 3 4 5 6\n", kLine123456},
      {"13 14 15\n16 17 18\n", RefLine(Iota(13, 6), kN)},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.typed);
    ASSERT_EQ(write(terminal, step.typed.data(), step.typed.size()),
              static_cast<ssize_t>(step.typed.size()));
    ASSERT_EQ(ReadFrom(terminal, step.line.size(), kPatienceMs), step.line);
  }
  const char end_of_file = static_cast<char>(mode.c_cc[VEOF]);  // typed at the start of a line
  ASSERT_EQ(write(terminal, &end_of_file, 1), 1);
  const Outcome outcome = child.Finish();
  EXPECT_TRUE(outcome.exited && outcome.status == 0) << outcome;
  EXPECT_EQ(outcome.err, "");
  close(terminal);
}

}  // namespace
