/* Error codes of the whole system, with their names and descriptions. */
#ifndef MORV_AERROR_H
#define MORV_AERROR_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    aErrNone = 0,
    aErrMemory = 1,
    aErrParam = 2,
    aErrNotFound = 3,
    aErrFileNameLength = 4,
    aErrBusy = 5,
    aErrIO = 6,
    aErrMode = 7,
    aErrWrite = 8,
    aErrRead = 9,
    aErrEOF = 10,
    aErrNotReady = 11,
    aErrPermission = 12,
    aErrRange = 13,
    aErrSize = 14,
    aErrOverrun = 15,
    aErrParse = 16,
    aErrConfiguration = 17,
    aErrTimeout = 18,
    aErrInitialization = 19,
    aErrVersion = 20,
    aErrUnimplemented = 21,
    aErrDuplicate = 22,
    aErrCancel = 23,
    aErrPacket = 24,
    aErrConnection = 25,
    aErrIndexRange = 26,
    aErrShortCommand = 27,
    aErrInvalidEntity = 28,
    aErrInvalidOption = 29,
    aErrResource = 30,
    aErrMedia = 31,
    aErrAsyncReturn = 32,
    aErrStreamStale = 33,
    aErrUnknown = 34
} aErr;

/* Name of the code ("aErrTimeout"); codes outside 0-34 give "aErrUnknown". */
const char* aError_GetErrorText(aErr code);
/* Description of the code ("Timeout occurred"); outside 0-34: "Unknown error". */
const char* aError_GetErrorDescription(aErr code);

#ifdef __cplusplus
}
#endif

#endif
