// From the process's arguments to the driver.
#include "tool_main.h"

#include <string_view>
#include <vector>

#include "driver.h"
#include "platform.h"

namespace hashbin {

int ToolMain(std::size_t record_width, int argc, char** argv) {
  const std::unique_ptr<Platform> platform = MakeSystemPlatform(argc > 0 ? argv[0] : nullptr);
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return RunTool(record_width, args, *platform);
}

}  // namespace hashbin
