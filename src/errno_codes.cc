// The errno to system error code table.
#include "errno_codes.h"

#include <cerrno>

namespace hashbin {

int SystemErrorCode(int errnum) {
  switch (errnum) {
    case ENOENT: return 2;          // file not found
    case ENOTDIR: return 3;         // path not found
    case EMFILE:
    case ENFILE: return 4;          // too many open files
    case EACCES:
    case EPERM: return 5;           // access denied
    case EBADF: return 6;           // invalid handle
    case ENOMEM: return 8;          // not enough memory
    case EROFS: return 19;          // write protected
    case EINVAL: return 87;         // invalid parameter
    case ENOSPC: return 112;        // disk full
    case ENAMETOOLONG: return 206;  // file name too long
    case EFBIG: return 223;         // file too large
    case EPIPE: return 232;         // the pipe is being closed
    case EIO: return 1117;          // I/O device error
    case EDQUOT: return 1295;       // disk quota exceeded
    default: return kErrnoCodeBase + errnum;
  }
}

}  // namespace hashbin
