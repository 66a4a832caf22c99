// The run of one program from its arguments to its exit status.
#include "driver.h"

#include <array>
#include <cassert>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "crc32.h"
#include "exit_status.h"
#include "failure_report.h"
#include "input_file.h"
#include "io_state.h"
#include "number_reader.h"
#include "output_file.h"
#include "parse_integer.h"
#include "record.h"
#include "record_key.h"
#include "simple_line.h"

namespace hashbin {
namespace {

int Refuse(Platform& platform, std::string_view what) {
  std::string line(platform.ProgramName());
  line += ": ";
  line += what;
  line += '\n';
  platform.WriteStandardError(line);
  return kExitRefused;
}

std::string Quoted(std::string_view text) {
  std::string quoted = "'";
  quoted += text;
  quoted += "'";
  return quoted;
}

struct Run {
  Platform& platform;
  IoState& io;
  InputFile& in;
  OutputFile& out;
  std::uint16_t bucket_count;
  const char* bucket_texts;  // kBucketTextSize bytes for each bucket 0..N
  bool fast_path;
};

[[gnu::cold, gnu::noinline]] void EndWithFailure(Run& run, FailureSite site) {
  const int code = run.io.pending;
  run.io.pending = 0;
  // Every complete line made before the failure reaches the file, unless writing is what failed.
  if (!run.out.failed()) run.out.Flush();
  ReportIoFailure(run.platform, site, code);
}

// A pending I/O error ends the run with a failure report; returns true when it did.
inline bool CheckIo(Run& run, FailureSite site) {
  if (run.io.pending == 0) return false;
  EndWithFailure(run, site);
  return true;
}

// A record's output line, with the bucket's text taken from the run's table (`texts`, made for
// buckets 0..n).
inline char* AppendOutputLine(char* out, const std::uint8_t* numbers, std::size_t count,
                              std::uint32_t key, std::uint16_t n, const char* texts) {
  const std::uint16_t bucket = BucketOf(key, n);
  return AppendBucketText(AppendNumbersText(out, numbers, count), texts + bucket * kBucketTextSize);
}

// Records that need no system call at all, taken straight from one buffer to the other: simple
// lines, while the output has room, each followed by a buffered byte that is not the end mark
// (so the end test after it is answered without a read). No check can find an error here, as
// nothing here can fail. Stops before the first record that needs more, which the full steps
// then take.
template <std::size_t Width>
void RunSimpleStretch(Run& run, std::size_t line_room) {
  // Kept in locals: the bytes written could alias any member, so the compiler would otherwise
  // reload them after every line.
  const std::uint8_t* in = run.in.cursor();
  const std::uint8_t* const in_end = run.in.limit();
  char* out = run.out.position();
  char* const out_end = run.out.end();
  const std::uint16_t n = run.bucket_count;
  const char* const texts = run.bucket_texts;
  std::array<std::uint8_t, Width> numbers;
  while (in_end - in >= kSimpleLineRoom<Width> &&
         out_end - out >= static_cast<std::ptrdiff_t>(line_room)) {
    const std::uint8_t* next = ParseSimpleLine<Width>(in, in_end, numbers.data());
    if (next == nullptr || next == in_end || *next == kEndMark) break;
    out = AppendOutputLine(out, numbers.data(), Width, RecordKey<Width>(numbers.data()), n, texts);
    in = next;
  }
  run.in.ConsumeTo(in);
  run.out.Commit(out);
}

// Width 0 stands for a width known only at run time, read without the fast paths.
template <std::size_t Width>
int RecordLoop(Run& run, std::size_t width) {
  const std::size_t count = Width != 0 ? Width : width;
  const std::size_t line_room = MaxRecordLine(count) + kRecordLineSlack;
  std::array<std::uint8_t, Width != 0 ? Width : 255> numbers{};
  for (;;) {
    bool simple = false;
    if constexpr (Width != 0) {
      // A character device gets each line by itself, which only the full steps do.
      if (run.fast_path && !run.out.writes_each_line()) RunSimpleStretch<Width>(run, line_room);
      simple = run.fast_path && ReadSimpleRecord<Width>(run.in, numbers.data());
    }
    if (!simple) {
      for (std::size_t i = 0; i < count; ++i) {
        numbers[i] = static_cast<std::uint8_t>(ReadNumber(run.in));
      }
      NextLine(run.in);
    }
    if (CheckIo(run, FailureSite::kReadRecord)) return kExitFailure;

    std::uint32_t key;
    if constexpr (Width != 0) {
      key = RecordKey<Width>(numbers.data());
    } else {
      key = CalcCRC32(numbers.data(), static_cast<std::int32_t>(count));
    }
    run.out.Commit(AppendOutputLine(run.out.Reserve(line_room), numbers.data(), count, key,
                                    run.bucket_count, run.bucket_texts));
    run.out.EndLine();
    if (CheckIo(run, FailureSite::kWriteLine)) return kExitFailure;

    const bool at_end = AtInputEnd(run.in);
    if (CheckIo(run, FailureSite::kEndTest)) return kExitFailure;
    if (at_end) return kExitSuccess;
  }
}

int RunRecords(Run& run, std::size_t width) {
  switch (width) {
    case 6:
      return RecordLoop<6>(run, width);
    case 10:
      return RecordLoop<10>(run, width);
    case 20:
      return RecordLoop<20>(run, width);
    default:
      return RecordLoop<0>(run, width);
  }
}

int RunChecked(std::size_t width, std::span<const std::string_view> raw_args, Platform& platform,
               const ToolOptions& options) {
  // An empty argument vanishes, as two double quotes alone do on a command line that the program
  // divides itself.
  std::vector<std::string_view> args;
  for (std::string_view arg : raw_args) {
    if (!arg.empty()) args.push_back(arg);
  }
  if (args.size() != 3) {
    return Refuse(platform, "usage: " + std::string(platform.ProgramName()) +
                                " INPUT OUTPUT N  (N: the bucket count, 2 to 65535)");
  }

  // N is checked before any file is touched, so that a bad N leaves the output as it was.
  const ParsedInteger n = ParseInteger(args[2]);
  if (n.error_pos != 0 || n.value < kMinBucketCount || n.value > kMaxBucketCount) {
    return Refuse(platform, "bad bucket count " + Quoted(args[2]) +
                                ": N must be a whole number from 2 to 65535");
  }

  const std::size_t line_room = MaxRecordLine(width) + kRecordLineSlack;
  const std::size_t in_capacity = options.buffer_size != 0 ? options.buffer_size : 1;
  const std::size_t out_capacity =
      options.buffer_size > line_room ? options.buffer_size : line_room;
  const std::size_t buckets = static_cast<std::size_t>(n.value) + 1;
  const std::unique_ptr<char[]> memory =
      platform.Allocate(in_capacity + out_capacity + buckets * kBucketTextSize);
  if (!memory) throw std::bad_alloc();
  char* const bucket_texts = memory.get() + in_capacity + out_capacity;
  for (std::size_t bucket = 0; bucket < buckets; ++bucket) {
    MakeBucketText(bucket_texts + bucket * kBucketTextSize, static_cast<std::uint16_t>(bucket));
  }

  const OpenResult input = platform.OpenForReading(args[0]);
  if (input.error != 0) {
    return Refuse(platform, "cannot open input " + Quoted(args[0]) + ": " + input.reason);
  }
  const OpenResult output = platform.CreateForWriting(args[1], input.handle);
  if (output.error != 0) {
    return Refuse(platform, "cannot create output " + Quoted(args[1]) + ": " + output.reason);
  }
  const FileKind output_kind = platform.KindOf(output.handle);
  if (output_kind == FileKind::kUnknown) {
    platform.Close(output.handle);
    return Refuse(platform, "cannot create output " + Quoted(args[1]) +
                                ": not a file, device or pipe that can be written");
  }

  IoState io;
  OutputFile out(platform, output.handle, io, memory.get() + in_capacity, out_capacity,
                 output_kind == FileKind::kCharDevice);
  InputFile in(platform, input.handle, io, memory.get(), in_capacity,
               platform.KindOf(input.handle) != FileKind::kDisk, [&out] {
                 // Whoever reads our output sees each line before we sit waiting for more input.
                 if (!out.failed()) out.Flush();
               });
  Run run{.platform = platform,
          .io = io,
          .in = in,
          .out = out,
          .bucket_count = static_cast<std::uint16_t>(n.value),
          .bucket_texts = bucket_texts,
          .fast_path = options.fast_path};

  if (const int status = RunRecords(run, width); status != kExitSuccess) return status;
  in.Close();
  if (CheckIo(run, FailureSite::kCloseInput)) return kExitFailure;
  out.Close();
  if (CheckIo(run, FailureSite::kCloseOutput)) return kExitFailure;
  return kExitSuccess;
}

}  // namespace

int RunTool(std::size_t record_width, std::span<const std::string_view> args, Platform& platform,
            const ToolOptions& options) {
  assert(record_width >= 1 && record_width <= 255);
  try {
    return RunChecked(record_width, args, platform, options);
  } catch (const std::bad_alloc&) {
    ReportFailure(platform, kOutOfMemoryKind, FailureSite::kOutOfMemory, "Out of memory");
  } catch (const std::exception& failure) {
    ReportFailure(platform, KindNameOf(failure), FailureSite::kUnexpected, failure.what());
  }
  return kExitFailure;
}

}  // namespace hashbin
