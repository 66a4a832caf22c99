// Failures inside the record loop and at closing: the exact report, the status, and that the
// output keeps every complete line made before the failure.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "exit_status.h"
#include "failure_report.h"
#include "fake_platform.h"
#include "tool_run.h"

namespace hashbin {
namespace {

std::string Report(std::string_view kind, std::string_view location, std::string_view message) {
  return "Exception " + std::string(kind) + " in module hashbin6 at " + std::string(location) +
         ".\r\n" + std::string(message) + "\r\n\r\n";
}

// Three lines of 13 input bytes each; their output lines are 22 bytes each.
const std::string kThreeLines = "1 2 3 4 5 6\r\n6 5 4 3 2 1\r\n9 9 9 9 9 9\r\n";
const std::string kLine1 = ExpectedLine({1, 2, 3, 4, 5, 6}, 49);
const std::string kLine2 = ExpectedLine({6, 5, 4, 3, 2, 1}, 49);
const std::string kLine3 = ExpectedLine({9, 9, 9, 9, 9, 9}, 49);

struct FailureCase {
  const char* name;
  std::string input;
  std::function<void(FakePlatform&)> arrange;
  std::size_t buffer_size;
  std::string location;
  std::string message;
  std::string output_left;  // exactly what the output file holds afterwards
};

// The test's name says which case it is; gtest would otherwise dump the struct's bytes.
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class CheckPointTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CheckPointTest, ReportsOnceAndKeepsWhatWasDone) {
  const FailureCase& c = GetParam();
  FakePlatform fake;
  fake.files["in"].content = c.input;
  if (c.arrange) c.arrange(fake);
  EXPECT_EQ(RunOn(fake, 6, {"in", "out", "49"}, {.buffer_size = c.buffer_size}), kExitFailure);
  EXPECT_EQ(fake.standard_error, Report("EInOutError", c.location, c.message));
  EXPECT_EQ(fake.Content("out"), c.output_left);
}

auto ReadsOf(std::size_t bytes) {
  return [bytes](FakePlatform& fake) { fake.read_size = [bytes](int) { return bytes; }; };
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CheckPointTest,
    ::testing::Values(
        FailureCase{"BadTokenInFirstRecord", "1 2 3 4 5 6x\r\n", nullptr, 65536, "00000001",
                    "Invalid numeric input.", ""},
        FailureCase{"BadTokenKeepsTheLinesBefore", kThreeLines + "1,2,3,4,5,6\r\n7 7 7 7 7 7\r\n",
                    nullptr, 65536, "00000001", "Invalid numeric input.", kLine1 + kLine2 + kLine3},
        FailureCase{"BadTokenInTheLastLineWithoutLineEnd", "1 2 3 4 5 6\r\n1 2 3 4 5 0x", nullptr,
                    65536, "00000001", "Invalid numeric input.", kLine1},
        FailureCase{"TwoBadTokensGiveOneReport", "1 2 3 4 5 6\r\n1 a 3 b 5 6\r\n", nullptr, 65536,
                    "00000001", "Invalid numeric input.", kLine1},
        FailureCase{"ReadFailsInsideARecord", kThreeLines,
                    [](FakePlatform& fake) {
                      ReadsOf(20)(fake);
                      fake.Fail(FakeCall::kRead, 2, 1117);
                    },
                    65536, "00000001", "I/O error 1117.", kLine1},
        FailureCase{"LastFailureWinsOverABadToken", "1 x 3 4 5 6\r\n",
                    [](FakePlatform& fake) {
                      ReadsOf(4)(fake);
                      fake.Fail(FakeCall::kRead, 2, 1117);
                    },
                    65536, "00000001", "I/O error 1117.", ""},
        // The failed read ends the third number, so the x is the sixth.
        FailureCase{"ABadTokenAfterAFailedReadWins", "1 2 3 4 x\r\n",
                    [](FakePlatform& fake) {
                      ReadsOf(4)(fake);
                      fake.Fail(FakeCall::kRead, 2, 1117);
                    },
                    65536, "00000001", "Invalid numeric input.", ""},
        FailureCase{"ReadFailsInTheEndTest", kThreeLines,
                    [](FakePlatform& fake) {
                      ReadsOf(13)(fake);
                      fake.Fail(FakeCall::kRead, 2, 5);
                    },
                    65536, "00000003", "File access denied.", kLine1},
        // A 30-byte buffer holds one 22-byte line: the second line writes out the first.
        FailureCase{"BlockWriteFailsAndKeepsWhatTheSystemTook", kThreeLines,
                    [](FakePlatform& fake) { fake.Fail(FakeCall::kWrite, 1, 112, 5); }, 30,
                    "00000002", "I/O error 112.", kLine1.substr(0, 5)},
        FailureCase{"SecondBlockWriteFails", kThreeLines,
                    [](FakePlatform& fake) { fake.Fail(FakeCall::kWrite, 2, 223); }, 30, "00000002",
                    "I/O error 223.", kLine1},
        FailureCase{"ClosingTheInputFails", kThreeLines,
                    [](FakePlatform& fake) { fake.Fail(FakeCall::kClose, 1, 6); }, 65536,
                    "00000004", "I/O error 6.", kLine1 + kLine2 + kLine3},
        FailureCase{"WritingOutAtTheCloseFails", kThreeLines,
                    [](FakePlatform& fake) { fake.Fail(FakeCall::kWrite, 1, 112, 30); }, 65536,
                    "00000005", "I/O error 112.", (kLine1 + kLine2).substr(0, 30)},
        FailureCase{"ClosingTheOutputFails", kThreeLines,
                    [](FakePlatform& fake) { fake.Fail(FakeCall::kClose, 2, 1117); }, 65536,
                    "00000005", "I/O error 1117.", kLine1 + kLine2 + kLine3}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Failures, AFailedReadIsAskedAgainOnTheNextCharacter) {
  FakePlatform fake;
  fake.files["in"].content = "1 2 3 4 5 6\r\n";
  fake.read_size = [](int) { return std::size_t{4}; };
  fake.Fail(FakeCall::kRead, 2, 1117);
  EXPECT_EQ(RunOn(fake, 6, {"in", "out", "49"}), kExitFailure);
  // The failed read looked like the end to one number only; the record read on to its end.
  EXPECT_EQ(fake.log, (std::vector<std::string>{"read in 4", "read in failed", "read in 4",
                                                "read in 4", "read in 1"}));
}

TEST(Failures, WriteFailureAtTheCloseLeavesTheOutputOpen) {
  FakePlatform fake;
  fake.files["in"].content = kThreeLines;
  fake.Fail(FakeCall::kWrite, 1, 112);
  EXPECT_EQ(RunOn(fake, 6, {"in", "out", "49"}), kExitFailure);
  EXPECT_EQ(fake.log.back(), "write out failed after 0");
}

TEST(Failures, OutOfMemoryIsReportedBeforeAnyFileIsTouched) {
  FakePlatform fake;
  fake.files["in"].content = kThreeLines;
  fake.files["out"].content = "precious";
  fake.Fail(FakeCall::kAllocate, 1, 0);
  EXPECT_EQ(RunOn(fake, 6, {"in", "out", "49"}), kExitFailure);
  EXPECT_EQ(fake.standard_error, Report("EOutOfMemory", "00000006", "Out of memory."));
  EXPECT_EQ(fake.Content("out"), "precious");
  EXPECT_EQ(fake.Calls(FakeCall::kOpenForReading), 0);
}

TEST(Failures, AnyOtherFailureIsReportedWithItsOwnKind) {
  FakePlatform fake;
  fake.files["in"].content = kThreeLines;
  fake.on_read = [] { throw std::runtime_error("the disk caught fire."); };
  EXPECT_EQ(RunOn(fake, 6, {"in", "out", "49"}), kExitFailure);
  EXPECT_EQ(fake.standard_error, Report("std::runtime_error", "00000007", "the disk caught fire."));
}

TEST(FailureReport, MessagesByCode) {
  const std::vector<std::pair<int, std::string_view>> cases = {
      {2, "File not found"},          {3, "Invalid filename"},          {4, "Too many open files"},
      {5, "File access denied"},      {100, "Read beyond end of file"}, {101, "Disk full"},
      {106, "Invalid numeric input"}, {112, "I/O error 112"},           {0, "I/O error 0"},
      {-7, "I/O error -7"},           {10071, "I/O error 10071"}};
  for (const auto& [code, message] : cases) {
    ReportText text;
    AppendIoErrorText(text, code);
    EXPECT_EQ(text.view(), message) << code;
  }
}

TEST(FailureReport, OneFullStopAtMostAndTheExactLayout) {
  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {"Disk full", "Disk full."}, {"Done.", "Done."}, {"", ""}};
  for (const auto& [message, shown] : cases) {
    ReportText text;
    FormatFailureReport(text, "EInOutError", "hashbin20", FailureSite::kCloseOutput, message);
    EXPECT_EQ(text.view(), "Exception EInOutError in module hashbin20 at 00000005.\r\n" +
                               std::string(shown) + "\r\n");
  }
}

TEST(FailureReport, LocationsDifferAndAreEightUpperCaseDigits) {
  ReportText text;
  text.AppendHex8(0xABCDEFu);
  EXPECT_EQ(text.view(), "00ABCDEF");
}

TEST(FailureReport, AnOverlongModuleNameIsCutNotOverrun) {
  ReportText text;
  const std::string name(5000, 'm');
  FormatFailureReport(text, "EInOutError", name, FailureSite::kReadRecord, "Disk full");
  EXPECT_EQ(text.size, sizeof text.data);
}

}  // namespace
}  // namespace hashbin
