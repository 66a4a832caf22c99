// The exit statuses of a run, in one place.
#pragma once

namespace hashbin {

enum ExitStatus : int {
  kExitSuccess = 0,  // every record was written and both files were closed
  kExitFailure = 1,  // a failure inside the record loop or at closing, after a failure report
  kExitRefused = 2,  // bad arguments or files refused before the first record; nothing was done
};

}  // namespace hashbin
