// POSIX errno values as the Windows system error codes of the same condition.
#pragma once

namespace hashbin {

// Codes that have no Windows counterpart here become kErrnoCodeBase + errno: a number that names
// no message of the failure report, so it is shown as "I/O error N" and never misdescribed.
constexpr int kErrnoCodeBase = 10000;

int SystemErrorCode(int errnum);

}  // namespace hashbin
