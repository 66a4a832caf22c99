// The shared entry of the three programs.
#pragma once

#include <cstddef>

namespace hashbin {

// Runs the tool for records of `record_width` numbers on the real platform.
int ToolMain(std::size_t record_width, int argc, char** argv);

}  // namespace hashbin
