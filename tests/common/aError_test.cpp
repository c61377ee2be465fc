#include <gtest/gtest.h>

#include <string>

#include "aError.h"

namespace {

struct ErrorRow {
    int code;
    const char* name;
    const char* description;
};

const ErrorRow ERRORS[] = {
    {0, "aErrNone", "Success, no error"},
    {1, "aErrMemory", "Memory allocation"},
    {2, "aErrParam", "Invalid parameter"},
    {3, "aErrNotFound", "Not found"},
    {4, "aErrFileNameLength", "File name too long"},
    {5, "aErrBusy", "Resource busy"},
    {6, "aErrIO", "Input/Output error"},
    {7, "aErrMode", "Invalid Mode"},
    {8, "aErrWrite", "Write error"},
    {9, "aErrRead", "Read error"},
    {10, "aErrEOF", "End of file"},
    {11, "aErrNotReady", "Not ready, no bytes available"},
    {12, "aErrPermission", "Insufficient permissions"},
    {13, "aErrRange", "Value out of range"},
    {14, "aErrSize", "Invalid Size"},
    {15, "aErrOverrun", "Buffer/queue overrun"},
    {16, "aErrParse", "Parse error"},
    {17, "aErrConfiguration", "Configuration error"},
    {18, "aErrTimeout", "Timeout occurred"},
    {19, "aErrInitialization", "Initialization error"},
    {20, "aErrVersion", "Invalid version"},
    {21, "aErrUnimplemented", "Functionality unimplemented"},
    {22, "aErrDuplicate", "Duplicate request"},
    {23, "aErrCancel", "Cancellation occurred, or did not complete"},
    {24, "aErrPacket", "Packet byte invalid"},
    {25, "aErrConnection", "Connection error"},
    {26, "aErrIndexRange", "Index out of range"},
    {27, "aErrShortCommand", "Morvasset command to short"},
    {28, "aErrInvalidEntity", "Invalid entity error"},
    {29, "aErrInvalidOption", "Invalid option code"},
    {30, "aErrResource", "Resource unavailable"},
    {31, "aErrMedia", "Media error"},
    {32, "aErrAsyncReturn", "Asynchronous return error"},
    {33, "aErrStreamStale", "Stream value is stale"},
    {34, "aErrUnknown", "Unknown error"},
};

TEST(ErrorTable, EveryCodeHasItsNameAndDescription)
{
    for (const ErrorRow& row : ERRORS) {
        SCOPED_TRACE(row.code);
        EXPECT_STREQ(aError_GetErrorText(static_cast<aErr>(row.code)), row.name);
        EXPECT_STREQ(aError_GetErrorDescription(static_cast<aErr>(row.code)), row.description);
    }
}

TEST(ErrorTable, EnumeratorsCarryTheirCodes)
{
    EXPECT_EQ(aErrNone, 0);
    EXPECT_EQ(aErrNotFound, 3);
    EXPECT_EQ(aErrNotReady, 11);
    EXPECT_EQ(aErrTimeout, 18);
    EXPECT_EQ(aErrConnection, 25);
    EXPECT_EQ(aErrStreamStale, 33);
    EXPECT_EQ(aErrUnknown, 34);
}

TEST(ErrorTable, CodesOutsideTheTableGiveTheUnknownEntry)
{
    for (int code : {35, 36, 1000, -1, -35, 0x7FFFFFFF}) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(aError_GetErrorText(static_cast<aErr>(code)), "aErrUnknown");
        EXPECT_STREQ(aError_GetErrorDescription(static_cast<aErr>(code)), "Unknown error");
    }
}

}  // namespace
