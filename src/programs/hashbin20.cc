// hashbin20: puts records of 20 numbers into buckets 1..N.
#include "tool_main.h"

constexpr int RecordWidth = 20;

int main(int argc, char** argv) { return hashbin::ToolMain(RecordWidth, argc, argv); }
