// POSIX errno values as the Windows system error codes of the same condition.
#pragma once

namespace hashbin {

// An errno without a counterpart here becomes kErrnoCodeBase + errno. Windows keeps bit 29 of its
// error codes for applications and never uses it itself, so such a number can neither be taken
// for a system condition nor name a message of the failure report: it shows as "I/O error N".
constexpr int kErrnoCodeBase = 0x20000000;

int SystemErrorCode(int errnum);

}  // namespace hashbin
