// The driver on the fake platform: arguments, the order of the early checks, refusals, and how
// output reaches the file for each kind of file.
#include "driver.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "exit_status.h"
#include "fake_platform.h"
#include "tool_run.h"

namespace hashbin {
namespace {

constexpr std::string_view kRecord = "1 2 3 4 5 6\r\n";

struct RefusalCase {
  const char* name;
  std::vector<std::string_view> args;
  std::string stderr_line;
};

// The test's name says which case it is; gtest would otherwise dump the struct's bytes.
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

// Nothing is opened, nothing is created, one line says why, and the status says "refused".
TEST_P(RefusalTest, RefusesBeforeTouchingAnyFile) {
  FakePlatform fake;
  fake.files["in"].content = std::string(kRecord);
  fake.files["out"].content = "precious";
  EXPECT_EQ(RunOn(fake, 6, GetParam().args), kExitRefused);
  EXPECT_EQ(fake.standard_error, GetParam().stderr_line);
  EXPECT_EQ(fake.Calls(FakeCall::kOpenForReading), 0);
  EXPECT_EQ(fake.Calls(FakeCall::kCreateForWriting), 0);
  EXPECT_EQ(fake.Content("out"), "precious");
  EXPECT_EQ(fake.files.size(), 2u);
}

constexpr char kUsage[] =
    "hashbin6: usage: hashbin6 INPUT OUTPUT N  (N: the bucket count, 2 to 65535)\n";

std::string BadN(std::string_view n) {
  return "hashbin6: bad bucket count '" + std::string(n) +
         "': N must be a whole number from 2 to 65535\n";
}

INSTANTIATE_TEST_SUITE_P(
    Driver, RefusalTest,
    ::testing::Values(RefusalCase{"NoArguments", {}, kUsage},
                      RefusalCase{"TwoArguments", {"in", "out"}, kUsage},
                      RefusalCase{"FourArguments", {"in", "out", "49", "x"}, kUsage},
                      RefusalCase{"EmptyArgumentsDoNotCount", {"in", "", "out"}, kUsage},
                      RefusalCase{"NOfOne", {"in", "new", "1"}, BadN("1")},
                      RefusalCase{"NTooLarge", {"in", "out", "65536"}, BadN("65536")},
                      RefusalCase{"NNegative", {"in", "out", "-2"}, BadN("-2")},
                      RefusalCase{"NNotANumber", {"in", "out", "4x"}, BadN("4x")},
                      RefusalCase{"NWithTrailingBlank", {"in", "out", "49 "}, BadN("49 ")}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Driver, EmptyArgumentVanishesAndTheRestMoveUp) {
  FakePlatform fake;
  fake.files["in"].content = std::string(kRecord);
  EXPECT_EQ(RunOn(fake, 6, {"", "in", "", "out", "49", ""}), kExitSuccess);
  EXPECT_EQ(fake.Content("out"), ExpectedLines({{1, 2, 3, 4, 5, 6}}, 49));
  EXPECT_EQ(fake.standard_error, "");
}

TEST(Driver, BucketCountTakesTheWholeNumberSyntax) {
  for (const auto& [text, n] : std::vector<std::pair<std::string_view, std::uint16_t>>{
           {"2", 2}, {"65535", 65535}, {"$FFFF", 65535}, {"  +49", 49}, {"0x31", 49}}) {
    FakePlatform fake;
    fake.files["in"].content = std::string(kRecord);
    EXPECT_EQ(RunOn(fake, 6, {"in", "out", text}), kExitSuccess) << text;
    EXPECT_EQ(fake.Content("out"), ExpectedLines({{1, 2, 3, 4, 5, 6}}, n)) << text;
  }
}

TEST(Driver, MissingInputCreatesNoOutput) {
  FakePlatform fake;
  EXPECT_EQ(RunOn(fake, 6, {"missing", "out", "49"}), kExitRefused);
  EXPECT_EQ(fake.standard_error,
            "hashbin6: cannot open input 'missing': No such file or directory\n");
  EXPECT_EQ(fake.files.count("out"), 0u);
  EXPECT_EQ(fake.Calls(FakeCall::kCreateForWriting), 0);
}

// Outputs that cannot be had: the run is refused, nothing is written, and every file that
// existed before holds what it held.
TEST(Driver, OutputsThatCannotBeHadAreRefusedAndLeaveEveryFileAlone) {
  struct Case {
    const char* output;
    std::function<void(FakePlatform&)> arrange;
    std::string_view stderr_line;
  };
  const std::vector<Case> cases = {
      {"out", [](FakePlatform& fake) { fake.Fail(FakeCall::kCreateForWriting, 1, 5); },
       "hashbin6: cannot create output 'out': injected failure\n"},
      {"in", nullptr, "hashbin6: cannot create output 'in': it is the input file\n"},
      {"odd", [](FakePlatform& fake) { fake.files["odd"].kind = FileKind::kUnknown; },
       "hashbin6: cannot create output 'odd': not a file, device or pipe that can be written\n"},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.files["in"].content = std::string(kRecord);
    if (c.arrange) c.arrange(fake);
    const auto before = fake.files;
    EXPECT_EQ(RunOn(fake, 6, {"in", c.output, "49"}), kExitRefused) << c.output;
    EXPECT_EQ(fake.standard_error, c.stderr_line);
    EXPECT_EQ(fake.Calls(FakeCall::kWrite), 0) << c.output;
    for (const auto& [name, file] : before) EXPECT_EQ(fake.Content(name), file.content) << name;
  }
}

TEST(Driver, NamesTheProgramItRunsAs) {
  FakePlatform fake;
  fake.program_name = "renamed";
  EXPECT_EQ(RunOn(fake, 20, {"in"}), kExitRefused);
  EXPECT_EQ(fake.standard_error,
            "renamed: usage: renamed INPUT OUTPUT N  (N: the bucket count, 2 to 65535)\n");
}

// Which writes reach the system, for each kind of output file.
std::vector<std::string> Writes(const FakePlatform& fake) {
  std::vector<std::string> writes;
  for (const std::string& entry : fake.log) {
    if (entry.rfind("write ", 0) == 0) writes.push_back(entry);
  }
  return writes;
}

TEST(Driver, DiskAndPipeOutputsAreWrittenInBlocksACharacterDeviceByLine) {
  const std::string input = "1 2 3 4 5 6\r\n7 8 9 10 11 12\r\n13 14 15 16 17 18\r\n";
  const std::string expected =
      ExpectedLines({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}, {13, 14, 15, 16, 17, 18}}, 49);
  const std::size_t line = expected.size() / 3;
  for (FileKind kind : {FileKind::kDisk, FileKind::kPipe, FileKind::kCharDevice}) {
    FakePlatform fake;
    fake.files["in"].content = input;
    fake.files["out"].kind = kind;
    ASSERT_EQ(RunOn(fake, 6, {"in", "out", "49"}), kExitSuccess);
    EXPECT_EQ(fake.Content("out"), expected);
    const std::vector<std::string> one_block = {"write out " + std::to_string(expected.size())};
    const std::vector<std::string> by_line(3, "write out " + std::to_string(line));
    EXPECT_EQ(Writes(fake), kind == FileKind::kCharDevice ? by_line : one_block);
  }
}

TEST(Driver, BlocksHoldWholeLinesAndShortWritesAreRepeated) {
  std::string input;
  std::string expected;
  for (std::uint8_t i = 1; i <= 40; ++i) {
    input += std::to_string(i) + " 2 3 4 5 6\n";
    expected += ExpectedLine({i, 2, 3, 4, 5, 6}, 1000);
  }
  FakePlatform fake;
  fake.files["in"].content = input;
  fake.write_limit = 7;
  ASSERT_EQ(RunOn(fake, 6, {"in", "out", "1000"}, {.buffer_size = 100}), kExitSuccess);
  EXPECT_EQ(fake.Content("out"), expected);
  EXPECT_GT(Writes(fake).size(), expected.size() / 7);
}

TEST(Driver, PipeInputGetsTheLinesSoFarWrittenBeforeEachWait) {
  FakePlatform fake;
  fake.files["in"] = {"1 2 3 4 5 6\r\n6 5 4 3 2 1\r\n", FileKind::kPipe};
  fake.files["out"].kind = FileKind::kPipe;
  fake.read_size = [](int) { return std::size_t{13}; };  // one line per read
  ASSERT_EQ(RunOn(fake, 6, {"in", "out", "49"}), kExitSuccess);
  const std::string first = ExpectedLine({1, 2, 3, 4, 5, 6}, 49);
  const std::string second = ExpectedLine({6, 5, 4, 3, 2, 1}, 49);
  EXPECT_EQ(fake.Content("out"), first + second);
  // The reader of the output gets each line before the run waits for the next one.
  std::vector<std::string> order;
  for (const std::string& entry : fake.log) {
    if (entry.rfind("write ", 0) == 0 || entry.rfind("read ", 0) == 0) order.push_back(entry);
  }
  EXPECT_EQ(order, (std::vector<std::string>{
                       "read in 13", "write out " + std::to_string(first.size()), "read in 13",
                       "write out " + std::to_string(second.size()), "read in 0"}));
}

TEST(Driver, DiskInputNeverFlushesEarly) {
  FakePlatform fake;
  fake.files["in"].content = "1 2 3 4 5 6\r\n7 8 9 10 11 12\r\n";
  fake.files["out"].kind = FileKind::kPipe;
  fake.read_size = [](int) { return std::size_t{13}; };
  ASSERT_EQ(RunOn(fake, 6, {"in", "out", "49"}), kExitSuccess);
  EXPECT_EQ(Writes(fake).size(), 1u);
}

TEST(Driver, OtherWidthsUseTheSameRules) {
  FakePlatform fake;
  fake.files["in"].content = "1 2 3\n4 5\n6 7 8 9\n";
  ASSERT_EQ(RunOn(fake, 3, {"in", "out", "7"}), kExitSuccess);
  EXPECT_EQ(fake.Content("out"), ExpectedLines({{1, 2, 3}, {4, 5, 6}}, 7));
}

}  // namespace
}  // namespace hashbin
