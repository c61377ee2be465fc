// What a message names as the cause of a failure: the system's own words
// for the error behind it, so a full disk reads "No space left on device",
// not only a number.
#ifndef MORV_UPDATER_ERRORCAUSE_H
#define MORV_UPDATER_ERRORCAUSE_H

#include <string>

#include "aError.h"

// The system's text of the error (errno) behind a failed code; the code's own
// description when there is none (0).
std::string ErrorCause(int systemError, aErr code);

#endif
