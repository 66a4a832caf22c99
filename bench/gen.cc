// hashbin_gen: streams deterministic random sorted draws to stdout, as a user's file holds them.
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "draws.h"

namespace {

using hashbin_bench::SplitMix64;

constexpr const char* kUsage =
    "usage: hashbin_gen [--width W] [--max M] (--size BYTES[K|M|G] | --records N) [--lf]"
    " [--seed S]\n"
    "  Writes records of W distinct numbers drawn from 1..M (default: 6 of 49, or 80 for any\n"
    "  other width), ascending, in plain decimal separated by single blanks, one record a line\n"
    "  ended by CR LF (LF with --lf). --size stops at the first line end at or past BYTES\n"
    "  (K, M, G: powers of 1024). The same arguments always give the same bytes.\n";

bool ParseCount(const char* text, std::uint64_t& value, bool allow_suffix) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || text[0] == '-') return false;
  std::uint64_t scale = 1;
  if (allow_suffix && *end != '\0') {
    switch (*end++) {
      case 'K':
      case 'k':
        scale = 1ull << 10;
        break;
      case 'M':
      case 'm':
        scale = 1ull << 20;
        break;
      case 'G':
      case 'g':
        scale = 1ull << 30;
        break;
      default:
        return false;
    }
  }
  if (*end != '\0') return false;
  value = parsed * scale;
  return true;
}

int Fail(const char* message) {
  std::fprintf(stderr, "hashbin_gen: %s\n%s", message, kUsage);
  return 2;
}

class Output {
 public:
  // Room for one more line; full blocks go out first.
  char* Reserve(std::size_t size) {
    if (sizeof buffer_ - length_ < size) Flush();
    return buffer_ + length_;
  }
  void Commit(char* end) { length_ = static_cast<std::size_t>(end - buffer_); }
  bool ok() const { return ok_; }
  void Flush() {
    std::size_t done = 0;
    while (ok_ && done < length_) {
      const ssize_t written = write(STDOUT_FILENO, buffer_ + done, length_ - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        // A reader that stops early (head) is not worth a message.
        if (errno != EPIPE) std::perror("hashbin_gen: write");
        ok_ = false;
      } else {
        done += static_cast<std::size_t>(written);
      }
    }
    length_ = 0;
  }

 private:
  char buffer_[1 << 20];
  std::size_t length_ = 0;
  bool ok_ = true;
};

Output output;

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t width = 6, max = 0, size = 0, records = 0, seed = 20240601;
  bool have_size = false, have_records = false, lf_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--lf") {
      lf_only = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!has_value) {
      return Fail("missing value or unknown flag");
    } else if (arg == "--width") {
      if (!ParseCount(argv[++i], width, false)) return Fail("bad --width");
    } else if (arg == "--max") {
      if (!ParseCount(argv[++i], max, false)) return Fail("bad --max");
    } else if (arg == "--size") {
      if (!ParseCount(argv[++i], size, true)) return Fail("bad --size");
      have_size = true;
    } else if (arg == "--records") {
      if (!ParseCount(argv[++i], records, false)) return Fail("bad --records");
      have_records = true;
    } else if (arg == "--seed") {
      if (!ParseCount(argv[++i], seed, false)) return Fail("bad --seed");
    } else {
      return Fail("unknown flag");
    }
  }
  if (max == 0) max = width <= 128 ? hashbin_bench::DefaultMax(static_cast<unsigned>(width)) : 0;
  if (have_size == have_records) return Fail("give exactly one of --size and --records");
  if (width == 0 || max > hashbin_bench::kMaxDrawValue || width > max) {
    return Fail("need 1 <= W <= M <= 128");
  }

  SplitMix64 random{seed};
  const unsigned m = static_cast<unsigned>(max);
  const unsigned w = static_cast<unsigned>(width);
  std::uint64_t bytes = 0, lines = 0;
  while (output.ok() && (have_size ? bytes < size : lines < records)) {
    std::uint8_t numbers[hashbin_bench::kMaxDrawValue];
    hashbin_bench::Draw(random, w, m, numbers);
    char* const start = output.Reserve(hashbin_bench::MaxDrawLine(w));
    char* const p = hashbin_bench::AppendDrawLine(start, numbers, w, !lf_only);
    output.Commit(p);
    bytes += static_cast<std::uint64_t>(p - start);
    ++lines;
  }
  output.Flush();
  if (!output.ok()) return 1;
  std::fprintf(stderr, "hashbin_gen: %" PRIu64 " records, %" PRIu64 " bytes\n", lines, bytes);
  return 0;
}
