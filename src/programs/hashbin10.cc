// hashbin10: puts records of 10 numbers into buckets 1..N.
#include "tool_main.h"

constexpr int RecordWidth = 10;

int main(int argc, char** argv) { return hashbin::ToolMain(RecordWidth, argc, argv); }
