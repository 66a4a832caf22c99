// The number record reader: byte classes, tokens, line ends, the end mark, failed reads, and the
// fast path held to exactly the same results as the character-at-a-time rules.
#include "number_reader.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "crc32.h"
#include "driver.h"
#include "fake_platform.h"
#include "input_file.h"
#include "io_state.h"
#include "record.h"

namespace hashbin {
namespace {

using Record = std::vector<std::int32_t>;

// Input written as text where {n} is the single byte n: "1 2{13}{10}" is "1 2" CR LF.
std::string Bytes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{') {
      const std::size_t close = text.find('}', i);
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, close - i - 1))));
      i = close;
    } else {
      out += text[i];
    }
  }
  return out;
}

// An input file of the fake platform, read directly through the reader's operations.
class Reader {
 public:
  explicit Reader(std::string content, std::size_t capacity = 128) : buffer_(capacity) {
    fake.files["in.txt"].content = std::move(content);
    handle_ = fake.OpenForReading("in.txt").handle;
  }

  InputFile& in() {
    if (!in_) {
      in_ = std::make_unique<InputFile>(fake, handle_, io, buffer_.data(), buffer_.size(), false,
                                        nullptr);
    }
    return *in_;
  }

  int reads() const { return fake.Calls(FakeCall::kRead); }

  FakePlatform fake;
  IoState io;

 private:
  std::vector<char> buffer_;
  FileHandle handle_;
  std::unique_ptr<InputFile> in_;
};

struct ReadOutcome {
  std::vector<Record> records;  // the records that would be written
  int error = 0;                // the code that ended the reading, 0 when it ran to the end
};

// The record loop of the tool, reduced to its reading: width numbers and a line skip per record,
// a check after them and after the end test.
ReadOutcome ReadAll(Reader& reader, std::size_t width) {
  ReadOutcome outcome;
  InputFile& in = reader.in();
  for (int guard = 0; guard < 10000; ++guard) {
    Record record;
    for (std::size_t i = 0; i < width; ++i) record.push_back(ReadNumber(in));
    NextLine(in);
    if (reader.io.pending != 0) {
      outcome.error = reader.io.pending;
      return outcome;
    }
    outcome.records.push_back(record);
    const bool at_end = AtInputEnd(in);
    if (reader.io.pending != 0) {
      outcome.error = reader.io.pending;
      return outcome;
    }
    if (at_end) return outcome;
  }
  ADD_FAILURE() << "the input never ended";
  return outcome;
}

struct RunOutcome {
  int status = -1;
  std::string output;
  std::string standard_error;

  bool operator==(const RunOutcome&) const = default;
};

void PrintTo(const RunOutcome& run, std::ostream* os) {
  *os << "status " << run.status << ", output " << ::testing::PrintToString(run.output)
      << ", stderr " << ::testing::PrintToString(run.standard_error);
}

constexpr std::string_view kBucketCount = "49";

// Runs the whole tool on `input`; `setup` may shape the fake's reads before the run.
RunOutcome RunOn(const std::string& input, std::size_t width, const ToolOptions& options = {},
                 const std::function<void(FakePlatform&)>& setup = nullptr) {
  FakePlatform fake;
  fake.program_name = "hashbin" + std::to_string(width);
  fake.files["in.txt"].content = input;
  if (setup) setup(fake);
  const std::string_view args[] = {"in.txt", "out.txt", kBucketCount};
  RunOutcome run;
  run.status = RunTool(width, args, fake, options);
  run.output = fake.files.count("out.txt") ? fake.Content("out.txt") : "(no output file)";
  run.standard_error = fake.standard_error;
  return run;
}

// The output lines of records, made from the record functions that have their own known answers.
std::string LinesOf(const std::vector<Record>& records, std::size_t width) {
  std::string out;
  for (const Record& values : records) {
    std::vector<std::uint8_t> bytes;
    for (std::int32_t value : values) bytes.push_back(static_cast<std::uint8_t>(value));
    const std::uint16_t bucket =
        BucketOf(CalcCRC32(bytes.data(), static_cast<std::int32_t>(width)), 49);
    out += RecordText(bytes.data(), static_cast<std::uint8_t>(width)) + " / " +
           std::to_string(bucket) + "\r\n";
  }
  return out;
}

const Record kOneToSix = {1, 2, 3, 4, 5, 6};
const Record kZeros = {0, 0, 0, 0, 0, 0};

struct Case {
  std::string input;
  std::vector<Record> records;
  int error = 0;  // the code that ends the run after the records
};

// Checks each case through the reader's operations directly, and through the whole tool with and
// without the fast path. The tool also gets each case after one plain line: the first line of a
// run is read before anything is buffered, so only later lines meet the fast path.
void CheckCases(const std::vector<Case>& cases) {
  const std::string plain_line = "9 8 7 6 5 4\r\n";
  const Record plain_record = {9, 8, 7, 6, 5, 4};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    Reader reader(c.input);
    const ReadOutcome read = ReadAll(reader, 6);
    EXPECT_EQ(read.records, c.records);
    EXPECT_EQ(read.error, c.error);

    // After a line end, an input that ends at once gives no further record.
    std::vector<Record> after_plain = {plain_record};
    if (!c.input.empty() && c.input[0] != kEndMark) {
      after_plain.insert(after_plain.end(), c.records.begin(), c.records.end());
    }
    for (bool fast_path : {true, false}) {
      SCOPED_TRACE(fast_path ? "fast path" : "plain path");
      RunOutcome run = RunOn(c.input, 6, {.fast_path = fast_path});
      EXPECT_EQ(run.status, c.error == 0 ? 0 : 1) << run.standard_error;
      EXPECT_EQ(run.output, LinesOf(c.records, 6));

      run = RunOn(plain_line + c.input, 6, {.fast_path = fast_path});
      EXPECT_EQ(run.status, c.error == 0 ? 0 : 1) << "after a plain line";
      EXPECT_EQ(run.output, LinesOf(after_plain, 6)) << "after a plain line";
    }
  }
}

TEST(NumberReaderTest, InputFiles) {
  CheckCases({
      {Bytes("1 2 3 4 5 6{13}{10}"), {kOneToSix}},
      {Bytes("1 2 3 4 5 6"), {kOneToSix}},
      {"", {kZeros}},
      {Bytes("{13}{10}{13}{10}"), {kZeros}},
      {Bytes("{26}"), {kZeros}},
      {Bytes("1 2 3 4 5 6{13}{10}{13}{10}"), {kOneToSix, kZeros}},
      {Bytes("1 2 3 4 5 6{13}{10}{32}{32}{32}"), {kOneToSix, kZeros}},
      {Bytes("1 2 3 4 5 6{13}{10}{26}"), {kOneToSix}},
      {Bytes("{13}{10}{13}{10}1 2 3 4 5 6{13}{10}"), {kOneToSix}},
      {Bytes("1 2 3{13}{10}4 5 6 7{13}{10}8 9 10 11 12 13{13}{10}"),
       {kOneToSix, {8, 9, 10, 11, 12, 13}}},
      {Bytes("1 2 3 4 5 6 7 8{13}{10}9 10 11 12 13 14{13}{10}"),
       {kOneToSix, {9, 10, 11, 12, 13, 14}}},
      {Bytes("1 2 3 4 5 6{10}7 8 9 10 11 12{10}"), {kOneToSix, {7, 8, 9, 10, 11, 12}}},
      {Bytes("1 2 3 4 5 6{13}7 8 9 10 11 12{13}{10}13 14 15 16 17 18"),
       {kOneToSix, {13, 14, 15, 16, 17, 18}}},
      {Bytes("1 2 3 4 5 6{13}{10}{26}7 8 9 10 11 12{13}{10}"), {kOneToSix}},
      {Bytes("1 2 3{26}4 5 6{13}{10}"), {{1, 2, 3, 0, 0, 0}}},
      {Bytes("1{9}2{0}3 4 5 6{13}{10}"), {kOneToSix}},
      {Bytes("0x10 $10 x10 -1 +7 010{13}{10}"), {{16, 16, 16, -1, 7, 10}}},
      {std::string(32, '0') + Bytes("1 2 3 4 5{13}{10}"), {{0, 1, 2, 3, 4, 5}}},
      {Bytes("1,2,3,4,5,6{13}{10}7 8 9 10 11 12{13}{10}"), {}, kInvalidNumericInput},
      {Bytes("1 2 3 4 5 99999999999{13}{10}"), {}, kInvalidNumericInput},
      {Bytes("{239}{187}{191}1 2 3 4 5 6{13}{10}"), {}, kInvalidNumericInput},
  });
}

// Runs longer than 32 characters are cut after every 32nd one; each piece is a number.
TEST(NumberReaderTest, LongRunsAreCutIntoPieces) {
  const std::string seventy = std::string(31, '0') + "7" + std::string(30, '0') + "12" + "000009";
  ASSERT_EQ(seventy.size(), 70u);
  const std::string sixty_four = std::string(31, '0') + "1" + std::string(31, '0') + "2";
  CheckCases({
      {seventy + " 4 5 6", {{7, 12, 9, 4, 5, 6}}},
      // Exactly two pieces: no empty third one.
      {sixty_four + Bytes(" 3 4 5 6{13}{10}"), {kOneToSix}},
      {std::string(32, '0') + " 1 2 3 4 5", {{0, 1, 2, 3, 4, 5}}},
      // The piece after a cut is judged on its own.
      {std::string(32, '0') + "x 1 2 3 4", {}, kInvalidNumericInput},
      {"1 2 3 4 5 " + std::string(40, '9'), {}, kInvalidNumericInput},
  });
}

// Bytes 0..32 but 26 are blanks; 33..255 make up tokens; surplus is skipped unconverted.
TEST(NumberReaderTest, ByteClassesAndLineRules) {
  CheckCases({
      {Bytes("1{11}2{12}3{27}4{31}5{1}6"), {kOneToSix}},
      {Bytes("{32}{9}{0}1 2 3 4 5 6 {13}{10}"), {kOneToSix}},
      {Bytes("1 2 3 4 5 {127}"), {}, kInvalidNumericInput},
      {Bytes("1 2 3 4 5 !"), {}, kInvalidNumericInput},
      {Bytes("1 2 3 4 5 {128}"), {}, kInvalidNumericInput},
      {Bytes("-0 +0 00 0x0 $0 x0"), {kZeros}},
      {Bytes("256 300 -1 -256 65535 $1FF{13}{10}"), {{256, 300, -1, -256, 65535, 511}}},
      // Surplus, even what is not a number, is skipped unconverted.
      {Bytes("1 2 3 4 5 6 zz!{200}{13}{10}7 8 9 10 11 12"), {kOneToSix, {7, 8, 9, 10, 11, 12}}},
      {Bytes("1 2 3{13}{10}4 5 6 bad{13}{10}"), {kOneToSix}},
      // A record gathered over several lines, blank lines among them.
      {Bytes("1 2{13}{10}{13}{10}{32}{9}{13}{10}3 4 5 6{13}{10}"), {kOneToSix}},
      {Bytes("1{10}2{10}3{10}4{10}5{10}6{10}7 8 9 10 11 12{10}"),
       {kOneToSix, {7, 8, 9, 10, 11, 12}}},
      {Bytes("7{13}{10}"), {{7, 0, 0, 0, 0, 0}}},
      // Only an LF ends a line; the CR before it goes along.
      {Bytes("1 2 3 4 5 6{13}{13}{10}7 8 9 10 11 12"), {kOneToSix, {7, 8, 9, 10, 11, 12}}},
      {Bytes("1 2 3 4 5 6{13}{10}{13}"), {kOneToSix, kZeros}},
      {Bytes("1 2 3 4 5 6{13}{10}{9}"), {kOneToSix, kZeros}},
      {Bytes("{32}{9}"), {kZeros}},
      // The records before a bad one are written.
      {Bytes("1 2 3 4 5 6{13}{10}7 8 9 10 11 1.2{13}{10}13 14 15 16 17 18"),
       {kOneToSix},
       kInvalidNumericInput},
  });
}

// Ctrl-Z ends the input wherever it stands, also inside a token and inside skipped surplus.
TEST(NumberReaderTest, EndMark) {
  CheckCases({
      {Bytes("1 2 3 4 5 6{26}"), {kOneToSix}},
      {Bytes("1 2 3 4 5 6{10}{26}"), {kOneToSix}},
      {Bytes("1 2 3 {26} 4"), {{1, 2, 3, 0, 0, 0}}},
      {Bytes("1{26}2 3"), {{1, 0, 0, 0, 0, 0}}},
      {Bytes("12{26}34 5 6{13}{10}"), {{12, 0, 0, 0, 0, 0}}},
      {Bytes("1 2 3 4 5 6 7{26}{13}{10}8 9 10 11 12 13"), {kOneToSix}},
      {Bytes("1 2 3 4 5 6{13}{26}{10}8 9 10 11 12 13"), {kOneToSix}},
      {Bytes("{26}1 2 3 4 5 6{13}{10}"), {kZeros}},
      {Bytes("1 2 3 4 5 6{13}{10}{26}x y z"), {kOneToSix}},
  });
}

// Once the input has ended it stays ended, and the system is not asked again.
TEST(NumberReaderTest, EndIsFinalAndReadsNoMore) {
  {
    Reader reader("5");
    EXPECT_EQ(ReadNumber(reader.in()), 5);
    EXPECT_EQ(reader.reads(), 2);  // the data, then the empty read that is the end
    EXPECT_TRUE(AtInputEnd(reader.in()));
    EXPECT_EQ(ReadNumber(reader.in()), 0);
    NextLine(reader.in());
    EXPECT_TRUE(AtInputEnd(reader.in()));
    EXPECT_EQ(reader.reads(), 2);
    EXPECT_EQ(reader.io.pending, 0);
  }
  {
    // Reads of two bytes: the end mark arrives in the second, and nothing after it is read.
    Reader reader(Bytes("1 {26}2 3 4 5 6 7 8 9"));
    reader.fake.read_size = [](int) { return 2; };
    EXPECT_EQ(ReadNumber(reader.in()), 1);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(ReadNumber(reader.in()), 0);
      NextLine(reader.in());
      EXPECT_TRUE(AtInputEnd(reader.in()));
    }
    EXPECT_EQ(reader.reads(), 2);
    EXPECT_EQ(reader.io.pending, 0);
  }
}

// A full 32-character token is ended without looking at the next character, which for a
// terminal or a pipe could mean waiting for input that is not needed yet.
TEST(NumberReaderTest, FullTokenDoesNotReadAhead) {
  Reader reader(std::string(31, '0') + "8" + "5");
  reader.fake.read_size = [](int) { return 32; };
  EXPECT_EQ(ReadNumber(reader.in()), 8);
  EXPECT_EQ(reader.reads(), 1);
  EXPECT_EQ(ReadNumber(reader.in()), 5);
}

constexpr int kReadFault = 23;  // any system code; the reader passes it on unchanged

// A failed read looks like the end of the input to the operation that meets it, and only to that
// one character: the next character asks the system again, and no byte is lost.
TEST(NumberReaderTest, FailedReadEndsOnlyThatCharacter) {
  {
    // The read after "12" fails: the token collected so far is converted.
    Reader reader("12 34");
    reader.fake.read_size = [](int) { return 2; };
    reader.fake.Fail(FakeCall::kRead, 2, kReadFault);
    EXPECT_EQ(ReadNumber(reader.in()), 12);
    EXPECT_EQ(reader.io.pending, kReadFault);
    EXPECT_EQ(ReadNumber(reader.in()), 34);
  }
  {
    // A failure in the middle of a token splits it into two numbers.
    Reader reader("1234");
    reader.fake.read_size = [](int) { return 2; };
    reader.fake.Fail(FakeCall::kRead, 2, kReadFault);
    EXPECT_EQ(ReadNumber(reader.in()), 12);
    EXPECT_EQ(ReadNumber(reader.in()), 34);
    EXPECT_EQ(reader.io.pending, kReadFault);
  }
  {
    // Met among the blanks before a token: 0, and the token comes with the next call.
    Reader reader("   5");
    reader.fake.read_size = [](int) { return 2; };
    reader.fake.Fail(FakeCall::kRead, 2, kReadFault);
    EXPECT_EQ(ReadNumber(reader.in()), 0);
    EXPECT_EQ(reader.io.pending, kReadFault);
    EXPECT_EQ(ReadNumber(reader.in()), 5);
  }
  {
    // NextLine stops where the read failed; the rest of the line is still there.
    Reader reader(Bytes("1 2 3 4 5 6 77 88{13}{10}9"));
    reader.fake.read_size = [](int) { return 12; };
    reader.fake.Fail(FakeCall::kRead, 2, kReadFault);
    for (std::int32_t expected : kOneToSix) EXPECT_EQ(ReadNumber(reader.in()), expected);
    NextLine(reader.in());
    EXPECT_EQ(reader.io.pending, kReadFault);
    EXPECT_EQ(ReadNumber(reader.in()), 77);
  }
  {
    // AtInputEnd answers true for the failed read, consumes nothing, and asks again next time.
    Reader reader(Bytes("1 2 3 4 5 6{13}{10}7"));
    reader.fake.read_size = [](int) { return 13; };
    reader.fake.Fail(FakeCall::kRead, 2, kReadFault);
    for (std::int32_t expected : kOneToSix) EXPECT_EQ(ReadNumber(reader.in()), expected);
    NextLine(reader.in());
    EXPECT_EQ(reader.io.pending, 0);
    EXPECT_TRUE(AtInputEnd(reader.in()));
    EXPECT_EQ(reader.io.pending, kReadFault);
    EXPECT_FALSE(AtInputEnd(reader.in()));
    EXPECT_EQ(ReadNumber(reader.in()), 7);
  }
}

// The code set last before the check is the one that ends the run.
TEST(NumberReaderTest, LastFailureWins) {
  struct Row {
    std::string input;
    int failing_read;  // 0: none
    int error;
  };
  const Row rows[] = {
      // A bad token, then a failed read in the same record: the read's code.
      {Bytes("1 x 3 4 5 6{13}{10}"), 2, kReadFault},
      // A failed read, then a bad token: 106.
      {Bytes("1 2 3 4 x 6{13}{10}"), 2, kInvalidNumericInput},
      {Bytes("a b 1 2 3 4{13}{10}"), 0, kInvalidNumericInput},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.input));
    Reader reader(row.input);
    reader.fake.read_size = [](int) { return 4; };
    if (row.failing_read != 0) reader.fake.Fail(FakeCall::kRead, row.failing_read, kReadFault);
    const ReadOutcome read = ReadAll(reader, 6);
    EXPECT_TRUE(read.records.empty());
    EXPECT_EQ(read.error, row.error);
  }
}

// A failed read inside a record, through the whole tool: the record is never written, the lines
// before it are, and the run ends with a failure.
TEST(NumberReaderTest, FailedReadEndsTheRunBeforeTheRecord) {
  const std::string input = Bytes("1 2 3 4 5 6{13}{10}7 8 9 10 11 12{13}{10}");
  for (bool fast_path : {true, false}) {
    const RunOutcome run = RunOn(input, 6, {.fast_path = fast_path}, [](FakePlatform& fake) {
      fake.read_size = [](int) { return 16; };
      fake.Fail(FakeCall::kRead, 2, kReadFault);
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, LinesOf({kOneToSix}, 6));
    EXPECT_NE(run.standard_error, "");
  }
}

// Inputs that exercise every rule that a read straight from the buffer must leave to the
// character-at-a-time reader, and the plain lines it must take itself.
std::vector<std::string> TrickyInputs() {
  std::vector<std::string> inputs = {
      Bytes("1 2 3 4 5 6{13}{10}7 8 9 10 11 12{13}{10}13 14 15 16 17 18{13}{10}"),
      Bytes("1 2 3 4 5 6{10}7 8 9 10 11 12{10}13 14 15 16 17 18 19 20 21 22 23 24 25 26{10}"),
      Bytes("01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16 17 18 19 20{13}{10}") +
          Bytes("80 79 78 77 76 75 74 73 72 71 70 69 68 67 66 65 64 63 62 61{13}{10}"),
      Bytes("1 2 3 4 5 6"),
      Bytes("0x10 $10 x10 -1 +7 010 0X1f -$FF{13}{10}1 2 3 4 5 6 7 8 9 10{13}{10}"),
      Bytes("100 200 255 256 300 999 1 2 3 4 5 6 7 8 9 10 11 12 13 14{13}{10}"),
      std::string(32, '0') + Bytes("7 2 3 4 5{13}{10}") + std::string(70, '0') +
          Bytes(" 1 2 3{13}{10}"),
      Bytes("1 2 3 4 5 6{13}{10}{26}7 8 9 10 11 12{13}{10}"),
      Bytes("1 2 3 4 5 6 7 8 9 10 11 12{26}13 14 15 16 17 18 19 20{13}{10}"),
      Bytes("1 2 3 4 5 6{13}7 8 9 10 11 12{13}{10}13 14 15 16 17 18{13}{10}"),
      Bytes("1 2 3 4 5 6{13}{13}{10}7 8 9 10 11 12{13}"),
      Bytes("1 2 3 4 5 6{13}{10}7 8 9 10 11 1,2{13}{10}13 14 15 16 17 18{13}{10}"),
      Bytes("{239}{187}{191}1 2 3 4 5 6{13}{10}"),
      Bytes("1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25{13}{10}1 2{10}"),
      Bytes("{13}{10}{13}{10}   {13}{10}1 2 3{13}{10}{13}{10}4 5 6 7 8 9 10 11 12 13{13}{10}"),
      Bytes("1{9}2{9}3{9}4{9}5{9}6{9}7{9}8{9}9{9}10{13}{10}1  2  3  4  5  6{13}{10}"),
      Bytes(" 1 2 3 4 5 6{13}{10}1 2 3 4 5 6 {13}{10}1 2 3 4 5 6{0}{13}{10}"),
      Bytes("1 2 3 4 5 6{13}{10}{32}{32}{32}"),
      Bytes("1 2 3 4 5 6{13}{10}{13}{10}"),
      Bytes("1 2 3 4 5 6 zz!{200} 7{13}{10}8 9 10 11 12 13{13}{10}"),
      "",
      Bytes("{26}"),
      Bytes("12 34 56 78 90 99 12 34 56 78 90 99 12 34 56 78 90 99 12 34 56 78{10}"),
  };
  // Many plain lines, so that reads and buffers end at every place inside them.
  std::string plain;
  for (int line = 0; line < 40; ++line) {
    for (int i = 0; i < 20; ++i) {
      if (i) plain += ' ';
      plain += std::to_string(1 + (line * 7 + i * 13) % 80);
    }
    plain += line % 3 == 0 ? "\n" : "\r\n";
  }
  inputs.push_back(plain);
  // The same with the irregular inputs that end normally in between.
  std::string mixed;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    // Leave out what ends a run early.
    if (inputs[i].find_first_of(Bytes("{26},{239}")) != std::string::npos) continue;
    mixed += inputs[i] + "\r\n" + plain.substr(0, 90 + 13 * i) + "\r\n";
  }
  inputs.push_back(mixed);
  return inputs;
}

// How the input reaches the reader must not change a single byte of the result: reads of any
// size, buffers of any size, and an input that has to be waited for.
TEST(ExactnessTest, SplitInvariance) {
  struct Split {
    std::string name;
    ToolOptions options;
    std::function<std::size_t(int)> read_size;
    FileKind kind = FileKind::kDisk;
  };
  std::vector<Split> splits;
  for (std::size_t k : {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 16, 17, 31, 61, 64, 127}) {
    splits.push_back({"reads of " + std::to_string(k), {}, [k](int) { return k; }});
  }
  splits.push_back({"reads of 1, 2, 3, ...", {}, [](int n) { return std::size_t(n); }});
  splits.push_back({"reads cycling 1..10", {}, [](int n) { return std::size_t(n % 10 + 1); }});
  splits.push_back({"scattered reads", {}, [](int n) {
                      return std::size_t((static_cast<unsigned>(n) * 2654435761u >> 24) % 40 + 1);
                    }});
  for (std::size_t size :
       {1, 2, 3, 7, 16, 17, 18, 19, 20, 21, 22, 30, 31, 32, 33, 61, 62, 63, 64, 65, 128, 65536}) {
    splits.push_back({"buffer of " + std::to_string(size), {.buffer_size = size}, nullptr});
  }
  splits.push_back({"buffer of 7, reads cycling", {.buffer_size = 7}, [](int n) {
                      return std::size_t(n % 5 + 1);
                    }});
  splits.push_back({"pipe, buffer of 64, reads cycling",
                    {.buffer_size = 64},
                    [](int n) { return std::size_t(n % 9 + 1); },
                    FileKind::kPipe});

  const std::vector<std::string> inputs = TrickyInputs();
  for (std::size_t width : {6, 10, 20}) {
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const RunOutcome expected = RunOn(inputs[i], width);
      for (const Split& split : splits) {
        for (bool fast_path : {true, false}) {
          ToolOptions options = split.options;
          options.fast_path = fast_path;
          const RunOutcome run = RunOn(inputs[i], width, options, [&](FakePlatform& fake) {
            fake.read_size = split.read_size;
            fake.files["in.txt"].kind = split.kind;
          });
          ASSERT_EQ(run, expected)
              << "width " << width << ", input " << i << " " << ::testing::PrintToString(inputs[i])
              << ", " << split.name << (fast_path ? "" : ", plain path");
        }
      }
    }
  }
}

// A generator of inputs: mostly plain lines, many of them with exactly one irregularity (where a
// fast path is most likely to go wrong), and some lines of anything the reader knows.
class InputGenerator {
 public:
  InputGenerator(std::uint32_t seed, std::size_t width) : random_(seed), width_(width) {}

  std::string Next() {
    std::string input;
    const bool bad_tokens = Chance(15);
    const int lines = 1 + Below(60);
    for (int line = 0; line < lines; ++line) {
      const int kind = Below(100);
      if (kind < 5) {
        input += Pick({"\r\n", "\n", "  \r\n", "\t\n", "\r\r\n"});
        continue;
      }
      Line made = kind < 50 ? Plain() : kind < 85 ? NearlyPlain(bad_tokens) : Wild(bad_tokens);
      if (line + 1 == lines && Chance(30)) made.end.clear();  // the last line needs no line end
      input += Join(made);
    }
    if (Chance(10))
      input += Pick({"\r\n", " ", "   ", "\t", "\x1A",
                     "\x1A"
                     "1 2 3\r\n"});
    return input;
  }

 private:
  struct Line {
    std::vector<std::string> tokens;
    std::vector<std::string> separators;  // one after each token but the last
    std::string end;
  };

  static std::string Join(const Line& line) {
    std::string text;
    for (std::size_t i = 0; i < line.tokens.size(); ++i) {
      if (i) text += line.separators[i - 1];
      text += line.tokens[i];
    }
    return text + line.end;
  }

  int Below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  std::size_t Index(std::size_t n) { return random_() % n; }
  bool Chance(int percent) { return Below(100) < percent; }
  std::string Pick(std::initializer_list<std::string_view> choices) {
    return std::string(choices.begin()[Below(static_cast<int>(choices.size()))]);
  }

  // One or two digits, as the fast path takes them; 0 and 81..99 included.
  std::string PlainNumber() {
    if (Chance(80)) return std::to_string(1 + Below(80));
    if (Chance(50))
      return std::string(1, static_cast<char>('0' + Below(10))) += std::to_string(Below(10));
    return std::to_string(Below(100));
  }

  Line Plain() {
    Line line;
    for (std::size_t i = 0; i < width_; ++i) {
      line.tokens.push_back(PlainNumber());
      if (i + 1 < width_) line.separators.push_back(" ");
    }
    line.end = Pick({"\r\n", "\r\n", "\n"});
    return line;
  }

  Line NearlyPlain(bool bad_tokens) {
    Line line = Plain();
    std::string& token = line.tokens[Index(line.tokens.size())];
    std::string& separator = line.separators[Index(line.separators.size())];
    switch (Below(9)) {
      case 0:
        token = Token(bad_tokens && Chance(30));
        break;
      case 1:
        separator = OddSeparator();
        break;
      case 2:
        line.end = Pick({"\r", "\r\r\n", " \r\n", "\t\n", "", "\n\r", " \n"});
        break;
      case 3:
        line.tokens.pop_back();
        line.separators.pop_back();
        break;
      case 4:
        line.separators.push_back(" ");
        line.tokens.push_back(Chance(50) ? PlainNumber() : Token(bad_tokens && Chance(30)));
        break;
      case 5: {
        // Ctrl-Z anywhere in the line.
        std::string& where = Chance(50) ? token : Chance(50) ? separator : line.end;
        where.insert(Index(where.size() + 1), 1, '\x1A');
        break;
      }
      case 6:
        line.tokens[0] = Pick({" ", "\t", "  "}) + line.tokens[0];
        break;
      case 7:
        separator = bad_tokens ? Pick({",", ".", "x", "\xC8"}) : Pick({"\t", "\x0B", "\x1F"});
        break;
      default:
        token = std::to_string(100 + Below(900));
        break;
    }
    return line;
  }

  Line Wild(bool bad_tokens) {
    Line line;
    std::size_t count = width_;
    if (Chance(40)) count = width_ - 2 + Index(5);
    for (std::size_t i = 0; i < count; ++i) {
      line.tokens.push_back(Token(bad_tokens && Chance(2)));
      if (i + 1 < count) line.separators.push_back(Chance(70) ? " " : OddSeparator());
    }
    if (Chance(3)) line.end += '\x1A';
    if (Chance(10)) line.end += Pick({" ", "  ", "\t", " x", " 1,2"});
    line.end += Pick({"\r\n", "\n", "\r", "\r\r\n"});
    return line;
  }

  std::string OddSeparator() {
    return Pick({"  ", "\t", "\r", std::string_view("\0", 1), "\x0B", " \r ", "\n", "\x1F"});
  }

  // A token that is not plain (or a bad one): any other form of number the reader accepts.
  std::string Token(bool bad) {
    if (bad)
      return Pick({"1,2", "abc", "\xC8", "1.5", "99999999999", "--1",
                   "\xEF\xBB\xBF"
                   "1"});
    switch (Below(9)) {
      case 0:
        return std::string(1, '0') += std::to_string(Below(10));
      case 1:
        return std::to_string(100 + Below(900));
      case 2:
        return Pick({"0x1F", "$a", "x10", "0X0", "$FF", "-$1"});
      case 3:
        return Pick({"+5", "-1", "-0", "+80", "-300"});
      case 4:
        return std::string(static_cast<std::size_t>(28 + Below(45)), '0') +
               std::to_string(Below(100));
      case 5:
        return std::to_string(Below(65536));
      default:
        return PlainNumber();
    }
  }

  std::mt19937 random_;
  std::size_t width_;
};

// Reading straight from the buffer gives exactly what the character-at-a-time rules give, for
// any buffer size and any way the reads arrive.
TEST(ExactnessTest, FastPathMatchesPlainPath) {
  for (std::size_t width : {6, 10, 20}) {
    InputGenerator generator(1000 + static_cast<std::uint32_t>(width), width);
    const std::size_t buffers[] = {65536, 3 * width, 3 * width + 1, 3 * width + 2, 50, 128};
    for (int round = 0; round < 1000; ++round) {
      const std::string input = generator.Next();
      const RunOutcome plain = RunOn(input, width, {.fast_path = false});
      const std::size_t buffer = buffers[round % 6];
      const RunOutcome fast =
          RunOn(input, width, {.buffer_size = buffer}, [round](FakePlatform& f) {
            if (round % 2 == 1) f.read_size = [](int n) { return std::size_t(n * 7 % 23 + 1); };
          });
      ASSERT_EQ(fast, plain) << "width " << width << ", round " << round << ", buffer " << buffer
                             << ", input " << ::testing::PrintToString(input);
    }
  }
}

// The bytes behind the last one a read delivered are left over from an earlier read; a line that
// ends there with a lone CR must not be taken for a CR LF because of an old LF behind it.
TEST(ExactnessTest, FastPathNeverLooksPastTheBufferedBytes) {
  for (std::size_t width : {6, 10, 20}) {
    std::string full_line;  // the longest plain line: 3 * width + 1 bytes
    Record record;
    for (std::size_t i = 0; i < width; ++i) {
      full_line += std::to_string(10 + i) + " ";
      record.push_back(static_cast<std::int32_t>(10 + i));
    }
    full_line.back() = '\r';
    const std::string lone_cr = full_line;
    full_line += '\n';
    const std::string input = full_line + lone_cr + "7 8 9\r\n";
    const std::size_t room = full_line.size();
    auto reads = [room](FakePlatform& fake) {
      // The first read fills the buffer; the second stops one byte short of it, on the lone CR.
      fake.read_size = [room](int n) { return n == 1 ? room : n == 2 ? room - 1 : room; };
    };
    const RunOutcome plain = RunOn(input, width, {.buffer_size = room, .fast_path = false}, reads);
    const RunOutcome fast = RunOn(input, width, {.buffer_size = room}, reads);
    EXPECT_EQ(fast, plain) << "width " << width;
    // The lone CR ends no line: "7 8 9" is the surplus of the second record.
    EXPECT_EQ(plain.output, LinesOf({record, record}, width));
  }
}

// The generator must reach both ends: runs that finish and runs that stop at a bad token, with
// most lines taken by the fast path. Otherwise the comparison above proves little.
TEST(ExactnessTest, GeneratedInputsCoverBothOutcomes) {
  InputGenerator generator(1006, 6);
  int finished = 0;
  int failed = 0;
  std::size_t lines = 0;
  for (int round = 0; round < 300; ++round) {
    const RunOutcome run = RunOn(generator.Next(), 6);
    (run.status == 0 ? finished : failed) += 1;
    for (char c : run.output) lines += c == '\n';
  }
  EXPECT_GT(finished, 150);
  EXPECT_GT(failed, 10);
  EXPECT_GT(lines, 2000u);
}

}  // namespace
}  // namespace hashbin
