// Formatting and writing the failure report.
#include "failure_report.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <typeinfo>
#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define HASHBIN_HAVE_DEMANGLE 1
#endif

#include "record.h"

namespace hashbin {
namespace {

struct IoErrorText {
  int code;
  std::string_view message;
};

constexpr std::array<IoErrorText, 7> IoErrorTexts = {{
    {2, "File not found"},
    {3, "Invalid filename"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {100, "Read beyond end of file"},
    {101, "Disk full"},
    {106, "Invalid numeric input"},
}};

}  // namespace

void ReportText::Append(std::string_view text) {
  const std::size_t room = sizeof data - size;
  const std::size_t count = std::min(room, text.size());
  std::memcpy(data + size, text.data(), count);
  size += count;
}

void ReportText::AppendDecimal(int value) {
  if (value < 0) Append("-");
  // The magnitude of every int, the most negative included, fits 32 unsigned bits.
  const std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char digits[10];
  Append({digits, static_cast<std::size_t>(hashbin::AppendDecimal(digits, magnitude) - digits)});
}

void ReportText::AppendHex8(std::uint32_t value) {
  char digits[8];
  for (int i = 7; i >= 0; --i) {
    digits[i] = "0123456789ABCDEF"[value & 0xFu];
    value >>= 4;
  }
  Append({digits, sizeof digits});
}

std::string KindNameOf(const std::exception& failure) {
  const char* name = typeid(failure).name();
#ifdef HASHBIN_HAVE_DEMANGLE
  int status = 0;
  if (char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status)) {
    std::string kind(readable);
    std::free(readable);
    return kind;
  }
#endif
  return name;
}

void AppendIoErrorText(ReportText& out, int code) {
  for (const IoErrorText& row : IoErrorTexts) {
    if (row.code == code) {
      out.Append(row.message);
      return;
    }
  }
  out.Append("I/O error ");
  out.AppendDecimal(code);
}

void FormatFailureReport(ReportText& out, std::string_view kind, std::string_view module,
                         FailureSite site, std::string_view message) {
  out.Append("Exception ");
  out.Append(kind);
  out.Append(" in module ");
  out.Append(module);
  out.Append(" at ");
  out.AppendHex8(static_cast<std::uint32_t>(site));
  out.Append(".\r\n");
  out.Append(message);
  if (!message.empty() && message.back() != '.') out.Append(".");
  out.Append("\r\n");
}

void ReportFailure(Platform& platform, std::string_view kind, FailureSite site,
                   std::string_view message) {
  ReportText report;
  FormatFailureReport(report, kind, platform.ProgramName(), site, message);
  platform.WriteStandardError(report.view());
  platform.WriteStandardError("\r\n");
}

void ReportIoFailure(Platform& platform, FailureSite site, int code) {
  ReportText message;
  AppendIoErrorText(message, code);
  ReportFailure(platform, kInOutErrorKind, site, message.view());
}

}  // namespace hashbin
