// The errno to system error code table.
#include "errno_codes.h"

#include <array>
#include <cerrno>

namespace hashbin {
namespace {

struct ErrnoCode {
  int errnum;
  int code;
};

constexpr std::array<ErrnoCode, 16> kErrnoCodes = {{
    {ENOENT, 2},   // file not found
    {ENOTDIR, 3},  // path not found
    {EMFILE, 4},   // too many open files
    {ENFILE, 4},
    {EACCES, 5},  // access denied
    {EPERM, 5},
    {EBADF, 6},           // invalid handle
    {ENOMEM, 8},          // not enough memory
    {EROFS, 19},          // write protected
    {EINVAL, 87},         // invalid parameter
    {ENOSPC, 112},        // disk full
    {ENAMETOOLONG, 206},  // file name too long
    {EFBIG, 223},         // file too large
    {EPIPE, 232},         // the pipe is being closed
    {EIO, 1117},          // I/O device error
    {EDQUOT, 1295},       // disk quota exceeded
}};

}  // namespace

int SystemErrorCode(int errnum) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.errnum == errnum) return entry.code;
  }
  return kErrnoCodeBase + errnum;
}

}  // namespace hashbin
