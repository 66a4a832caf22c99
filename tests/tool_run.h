// Running the whole tool on the fake platform, and the lines it should write.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "crc32.h"
#include "driver.h"
#include "fake_platform.h"
#include "record.h"

namespace hashbin {

// The output line of one record, from the record functions.
inline std::string ExpectedLine(const std::vector<std::uint8_t>& numbers, std::uint16_t n) {
  const std::uint32_t key = CalcCRC32(numbers.data(), static_cast<std::int32_t>(numbers.size()));
  return RecordText(numbers.data(), static_cast<std::uint8_t>(numbers.size())) + " / " +
         std::to_string(BucketOf(key, n)) + "\r\n";
}

inline std::string ExpectedLines(std::initializer_list<std::vector<std::uint8_t>> records,
                                 std::uint16_t n) {
  std::string lines;
  for (const auto& record : records) lines += ExpectedLine(record, n);
  return lines;
}

inline int RunOn(FakePlatform& fake, std::size_t width, std::vector<std::string_view> args,
                 const ToolOptions& options = {}) {
  return RunTool(width, args, fake, options);
}

}  // namespace hashbin
