// hashbin6: puts records of 6 numbers into buckets 1..N.
#include "tool_main.h"

constexpr int RecordWidth = 6;

int main(int argc, char** argv) { return hashbin::ToolMain(RecordWidth, argc, argv); }
