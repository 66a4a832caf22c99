// The report that ends a failed run: kind, program, failure location and message, CR LF ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "platform.h"

namespace hashbin {

// Where a run stopped; the value is the location shown in the report, fixed for every build.
enum class FailureSite : std::uint32_t {
  kReadRecord = 1,  // after reading a record and moving to the next line
  kWriteLine = 2,   // after writing a record's output line
  kEndTest = 3,     // after the end-of-input test
  kCloseInput = 4,
  kCloseOutput = 5,
  kOutOfMemory = 6,
  kUnexpected = 7,  // any other failure that reaches the top of the run
};

inline constexpr std::string_view kInOutErrorKind = "EInOutError";
inline constexpr std::string_view kOutOfMemoryKind = "EOutOfMemory";

// Text built in place, so that a report can be made when no memory can be had.
struct ReportText {
  char data[1024];
  std::size_t size = 0;

  void Append(std::string_view text);
  void AppendDecimal(int value);
  void AppendHex8(std::uint32_t value);
  std::string_view view() const { return {data, size}; }
};

// The kind name of any other failure: its type's name as written in the source.
std::string KindNameOf(const std::exception& failure);

// The message for an I/O error code; "I/O error N" for a code without a text of its own.
void AppendIoErrorText(ReportText& out, int code);

// "Exception KIND in module MODULE at LOCATION." CR LF, the message with one full stop, CR LF.
void FormatFailureReport(ReportText& out, std::string_view kind, std::string_view module,
                         FailureSite site, std::string_view message);

// Writes the report, then one more CR LF, to the standard error stream.
void ReportFailure(Platform& platform, std::string_view kind, FailureSite site,
                   std::string_view message);

// The same for an I/O error code.
void ReportIoFailure(Platform& platform, FailureSite site, int code);

}  // namespace hashbin
