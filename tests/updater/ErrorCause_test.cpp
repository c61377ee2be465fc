// The cause a failure message names beside its code: the system's words for
// the error behind it, or the code's own description when there is none.
#include "ErrorCause.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>

namespace {

struct Cause {
    int systemError;
    aErr code;
    const char* text;
};

void PrintTo(const Cause& c, std::ostream* out)
{
    *out << c.text;
}

class ErrorCauses : public ::testing::TestWithParam<Cause> {};

TEST_P(ErrorCauses, NameWhyInWords)
{
    EXPECT_EQ(ErrorCause(GetParam().systemError, GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, ErrorCauses,
                         ::testing::Values(Cause{ENOSPC, aErrIO, "No space left on device"},
                                           Cause{EDQUOT, aErrIO, "Disk quota exceeded"},
                                           Cause{ENOSPC, aErrNotFound, "No space left on device"},
                                           Cause{EACCES, aErrNotFound, "Permission denied"},
                                           Cause{0, aErrBusy, "Resource busy"},
                                           Cause{0, aErrIO, "Input/Output error"}));

}  // namespace
