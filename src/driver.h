// The driver: arguments, the early refusals, the record loop and the closing of both files.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "platform.h"

namespace hashbin {

constexpr int kMinBucketCount = 2;
constexpr int kMaxBucketCount = 65535;

struct ToolOptions {
  // Each of the input and output buffers. 256 KiB took a tenth off a run against 64 KiB, by
  // fewer and larger system calls, and keeps the whole run within 3 MB.
  std::size_t buffer_size = 256 * 1024;
  // Read common lines straight from the buffer; off, every line goes through ReadNumber.
  bool fast_path = true;
};

// Runs the tool on `args` (the arguments after the program's name; empty ones do not count) for
// records of `record_width` numbers (1 to 255) and returns the exit status.
int RunTool(std::size_t record_width, std::span<const std::string_view> args, Platform& platform,
            const ToolOptions& options = {});

}  // namespace hashbin
