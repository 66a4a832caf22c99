// The pending I/O error of a run: file operations leave their failure here and carry on; the
// driver's checks take it.
#pragma once

namespace hashbin {

constexpr int kInvalidNumericInput = 106;
// A write that accepts nothing without saying why.
constexpr int kWriteFault = 29;

struct IoState {
  int pending = 0;  // the last failure's code wins
};

}  // namespace hashbin
