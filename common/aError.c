/* Names and descriptions of the error codes. */
#include "aError.h"

#define aERR_COUNT 35

static const char* const ERROR_TEXT[aERR_COUNT] = {
    "aErrNone", "aErrMemory", "aErrParam", "aErrNotFound", "aErrFileNameLength",
    "aErrBusy", "aErrIO", "aErrMode", "aErrWrite", "aErrRead", "aErrEOF",
    "aErrNotReady", "aErrPermission", "aErrRange", "aErrSize", "aErrOverrun",
    "aErrParse", "aErrConfiguration", "aErrTimeout", "aErrInitialization",
    "aErrVersion", "aErrUnimplemented", "aErrDuplicate", "aErrCancel", "aErrPacket",
    "aErrConnection", "aErrIndexRange", "aErrShortCommand", "aErrInvalidEntity",
    "aErrInvalidOption", "aErrResource", "aErrMedia", "aErrAsyncReturn",
    "aErrStreamStale", "aErrUnknown"};

static const char* const ERROR_DESCRIPTION[aERR_COUNT] = {
    "Success, no error",
    "Memory allocation",
    "Invalid parameter",
    "Not found",
    "File name too long",
    "Resource busy",
    "Input/Output error",
    "Invalid Mode",
    "Write error",
    "Read error",
    "End of file",
    "Not ready, no bytes available",
    "Insufficient permissions",
    "Value out of range",
    "Invalid Size",
    "Buffer/queue overrun",
    "Parse error",
    "Configuration error",
    "Timeout occurred",
    "Initialization error",
    "Invalid version",
    "Functionality unimplemented",
    "Duplicate request",
    "Cancellation occurred, or did not complete",
    "Packet byte invalid",
    "Connection error",
    "Index out of range",
    "Morvasset command to short",
    "Invalid entity error",
    "Invalid option code",
    "Resource unavailable",
    "Media error",
    "Asynchronous return error",
    "Stream value is stale",
    "Unknown error"};

/* Taken as unsigned, so a negative code lands on the last entry too. */
static unsigned int clampCode(aErr code)
{
    unsigned int index = (unsigned int)code;
    return index < aERR_COUNT ? index : aERR_COUNT - 1;
}

const char* aError_GetErrorText(aErr code)
{
    return ERROR_TEXT[clampCode(code)];
}

const char* aError_GetErrorDescription(aErr code)
{
    return ERROR_DESCRIPTION[clampCode(code)];
}
