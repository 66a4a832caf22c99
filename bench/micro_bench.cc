// Micro-benchmarks of the pieces of a record's way through the tool, and of whole runs in memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crc32.h"
#include "draws.h"
#include "driver.h"
#include "input_file.h"
#include "io_state.h"
#include "number_reader.h"
#include "platform.h"
#include "record.h"
#include "record_key.h"
#include "simple_line.h"

namespace {

using hashbin_bench::SplitMix64;

constexpr std::uint64_t kSeed = 20240601;
// Enough records that the input does not sit in the first-level caches, as a real input never
// does, yet few enough that a benchmark repeats it many times.
constexpr std::size_t kParseRecords = 1 << 16;
// The per-record functions work on a table of this many records (at most 80 KiB for width 20).
constexpr std::size_t kTableRecords = 1 << 12;
constexpr std::size_t kBufferSize = hashbin::ToolOptions{}.buffer_size;  // what the tool uses

// The records of `count` draws, back to back.
std::vector<std::uint8_t> MakeRecords(unsigned width, std::size_t count) {
  std::vector<std::uint8_t> records(width * count);
  SplitMix64 random{kSeed};
  for (std::size_t i = 0; i < count; ++i) {
    hashbin_bench::Draw(random, width, hashbin_bench::DefaultMax(width), &records[i * width]);
  }
  return records;
}

// The same draws as the text file a user would feed in, CR LF ended.
std::string MakeInput(unsigned width, std::size_t count) {
  const std::vector<std::uint8_t> records = MakeRecords(width, count);
  std::string text(hashbin_bench::MaxDrawLine(width) * count, '\0');
  char* p = text.data();
  for (std::size_t i = 0; i < count; ++i) {
    p = hashbin_bench::AppendDrawLine(p, &records[i * width], width, true);
  }
  text.resize(static_cast<std::size_t>(p - text.data()));
  return text;
}

// A platform whose one input is a string in memory and whose output is counted and dropped, so
// that a run costs what the tool itself does, without the kernel's copies.
class MemoryPlatform final : public hashbin::Platform {
 public:
  explicit MemoryPlatform(std::string_view input) : input_(input) {}

  void Rewind() {
    offset_ = 0;
    written_ = 0;
  }
  std::size_t written() const { return written_; }
  const std::string& standard_error() const { return standard_error_; }

  hashbin::OpenResult OpenForReading(std::string_view) override {
    hashbin::OpenResult result;
    result.handle.value = kInput;
    return result;
  }
  hashbin::OpenResult CreateForWriting(std::string_view, hashbin::FileHandle) override {
    hashbin::OpenResult result;
    result.handle.value = kOutput;
    return result;
  }
  hashbin::FileKind KindOf(hashbin::FileHandle) override { return hashbin::FileKind::kDisk; }
  hashbin::IoResult Read(hashbin::FileHandle, char* buffer, std::size_t size) override {
    const std::size_t bytes = std::min(size, input_.size() - offset_);
    std::memcpy(buffer, input_.data() + offset_, bytes);
    offset_ += bytes;
    return {bytes, 0};
  }
  bool ReadWouldWait(hashbin::FileHandle) override { return false; }
  hashbin::IoResult Write(hashbin::FileHandle, const char* data, std::size_t size) override {
    benchmark::DoNotOptimize(data);
    written_ += size;
    return {size, 0};
  }
  int Close(hashbin::FileHandle) override { return 0; }
  std::string_view ProgramName() override { return "hashbin_micro_bench"; }
  void WriteStandardError(std::string_view text) override { standard_error_ += text; }
  std::unique_ptr<char[]> Allocate(std::size_t size) override {
    return std::make_unique<char[]>(size);
  }

 private:
  static constexpr std::intptr_t kInput = 3;
  static constexpr std::intptr_t kOutput = 4;
  std::string_view input_;
  std::size_t offset_ = 0;
  std::size_t written_ = 0;
  std::string standard_error_;
};

// Time per record, next to Google Benchmark's records per second.
void CountRecords(benchmark::State& state, std::size_t records_per_iteration) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * records_per_iteration));
  state.counters["per_record"] = benchmark::Counter(
      static_cast<double>(records_per_iteration),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Reads every record of the input through the tool's InputFile (refilled from memory) and
// returns how many there were; `fast` tries the straight-from-the-buffer reader first, as the
// tool does, and falls back to the full rules for the lines it declines.
template <std::size_t Width>
std::size_t ParseAll(MemoryPlatform& platform, char* buffer, bool fast, std::uint32_t& sink) {
  platform.Rewind();
  hashbin::IoState io;
  hashbin::InputFile in(platform, hashbin::FileHandle{3}, io, buffer, kBufferSize, false, {});
  std::array<std::uint8_t, Width> numbers{};
  std::size_t records = 0;
  while (!hashbin::AtInputEnd(in)) {
    if (!fast || !hashbin::ReadSimpleRecord<Width>(in, numbers.data())) {
      for (std::size_t i = 0; i < Width; ++i) {
        numbers[i] = static_cast<std::uint8_t>(hashbin::ReadNumber(in));
      }
      hashbin::NextLine(in);
    }
    sink += numbers[0] ^ numbers[Width - 1];
    ++records;
  }
  return records;
}

template <std::size_t Width>
void BM_Parse(benchmark::State& state, bool fast) {
  const std::string input = MakeInput(Width, kParseRecords);
  MemoryPlatform platform(input);
  const auto buffer = std::make_unique<char[]>(kBufferSize);
  std::uint32_t sink = 0;
  std::size_t records = 0;
  for (auto _ : state) {
    records = ParseAll<Width>(platform, buffer.get(), fast, sink);
    benchmark::DoNotOptimize(sink);
  }
  if (records != kParseRecords) state.SkipWithError("the reader lost or invented records");
  CountRecords(state, records);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

template <std::size_t Width>
void BM_ParseSimpleRecord(benchmark::State& state) {
  BM_Parse<Width>(state, true);
}
template <std::size_t Width>
void BM_ParseReadNumber(benchmark::State& state) {
  BM_Parse<Width>(state, false);
}

// The key as the byte loop computes it, against one table lookup per position.
template <std::size_t Width>
void BM_CalcCRC32(benchmark::State& state) {
  const std::vector<std::uint8_t> records = MakeRecords(Width, kTableRecords);
  for (auto _ : state) {
    std::uint32_t sink = 0;
    for (std::size_t r = 0; r < kTableRecords; ++r) {
      sink ^= hashbin::CalcCRC32(&records[r * Width], static_cast<std::int32_t>(Width));
    }
    benchmark::DoNotOptimize(sink);
  }
  CountRecords(state, kTableRecords);
}

template <std::size_t Width>
void BM_RecordKey(benchmark::State& state) {
  const std::vector<std::uint8_t> records = MakeRecords(Width, kTableRecords);
  // The faster key is only worth measuring while it is the same key.
  for (std::size_t r = 0; r < kTableRecords; ++r) {
    if (hashbin::RecordKey<Width>(&records[r * Width]) !=
        hashbin::CalcCRC32(&records[r * Width], static_cast<std::int32_t>(Width))) {
      state.SkipWithError("RecordKey differs from CalcCRC32");
      return;
    }
  }
  for (auto _ : state) {
    std::uint32_t sink = 0;
    for (std::size_t r = 0; r < kTableRecords; ++r) {
      sink ^= hashbin::RecordKey<Width>(&records[r * Width]);
    }
    benchmark::DoNotOptimize(sink);
  }
  CountRecords(state, kTableRecords);
}

// The bucket of each key and its decimal text, for a bucket count of state.range(0).
void BM_BucketOfDecimal(benchmark::State& state) {
  const auto n = static_cast<std::uint16_t>(state.range(0));
  std::vector<std::uint32_t> keys(kTableRecords);
  SplitMix64 random{kSeed};
  for (std::uint32_t& key : keys) key = static_cast<std::uint32_t>(random.Next());
  char text[8 * kTableRecords];
  for (auto _ : state) {
    char* p = text;
    for (const std::uint32_t key : keys) {
      p = hashbin::AppendDecimal(p, hashbin::BucketOf(key, n));
      *p++ = '\n';
    }
    benchmark::DoNotOptimize(text);
    benchmark::ClobberMemory();
  }
  CountRecords(state, kTableRecords);
}

// The record text as a string of its own, as the functions' callers outside the loop get it.
template <std::size_t Width>
void BM_RecordText(benchmark::State& state) {
  const std::vector<std::uint8_t> records = MakeRecords(Width, kTableRecords);
  for (auto _ : state) {
    std::size_t sink = 0;
    for (std::size_t r = 0; r < kTableRecords; ++r) {
      const std::string text = hashbin::RecordText(&records[r * Width], Width);
      sink += static_cast<unsigned char>(text[text.size() - 1]);
    }
    benchmark::DoNotOptimize(sink);
  }
  CountRecords(state, kTableRecords);
}

// The whole output line, written in place as the record loop does.
template <std::size_t Width>
void BM_AppendRecordLine(benchmark::State& state) {
  const std::vector<std::uint8_t> records = MakeRecords(Width, kTableRecords);
  std::vector<char> out((hashbin::MaxRecordLine(Width) + hashbin::kRecordLineSlack) *
                        kTableRecords);
  for (auto _ : state) {
    char* p = out.data();
    for (std::size_t r = 0; r < kTableRecords; ++r) {
      p = hashbin::AppendRecordLine(p, &records[r * Width], Width,
                                    static_cast<std::uint16_t>(r % 49 + 1));
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  CountRecords(state, kTableRecords);
}

// A whole run of the tool with N = 49 over the input in memory: everything but the system calls.
// state.range(0) turns the fast reader on (1) or off (0).
template <std::size_t Width>
void BM_WholeRun(benchmark::State& state) {
  const std::string input = MakeInput(Width, kParseRecords);
  MemoryPlatform platform(input);
  hashbin::ToolOptions options;
  options.fast_path = state.range(0) != 0;
  const std::string_view args[] = {"in", "out", "49"};
  for (auto _ : state) {
    platform.Rewind();
    if (hashbin::RunTool(Width, args, platform, options) != 0) {
      state.SkipWithError(platform.standard_error().c_str());
      return;
    }
  }
  if (platform.written() == 0) state.SkipWithError("the run wrote nothing");
  CountRecords(state, kParseRecords);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

#define HASHBIN_BENCH_WIDTHS(name) \
  BENCHMARK_TEMPLATE(name, 6);     \
  BENCHMARK_TEMPLATE(name, 10);    \
  BENCHMARK_TEMPLATE(name, 20)

HASHBIN_BENCH_WIDTHS(BM_ParseSimpleRecord);
HASHBIN_BENCH_WIDTHS(BM_ParseReadNumber);
HASHBIN_BENCH_WIDTHS(BM_CalcCRC32);
HASHBIN_BENCH_WIDTHS(BM_RecordKey);
BENCHMARK(BM_BucketOfDecimal)->Arg(49)->Arg(65535);
HASHBIN_BENCH_WIDTHS(BM_RecordText);
HASHBIN_BENCH_WIDTHS(BM_AppendRecordLine);
BENCHMARK_TEMPLATE(BM_WholeRun, 6)->ArgName("fast")->Arg(1)->Arg(0);
BENCHMARK_TEMPLATE(BM_WholeRun, 10)->ArgName("fast")->Arg(1)->Arg(0);
BENCHMARK_TEMPLATE(BM_WholeRun, 20)->ArgName("fast")->Arg(1)->Arg(0);

}  // namespace
