#include <gtest/gtest.h>

#include <string>

#include "aDebug.h"

namespace {

class DebugTrace : public testing::Test {
protected:
    void TearDown() override
    {
        aMorvassetDebuggingEnable = 0;
        aMorvassetDebuggingLevel = 0;
    }

    static std::string traced(uint32_t bit)
    {
        testing::internal::CaptureStdout();
        aDEBUG_TRACE(bit, "line %d [%s]\n", 7, "x");
        aDEBUG_TRACE(bit, "plain\n");
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(DebugTrace, SwitchesStartOff)
{
    EXPECT_EQ(aMorvassetDebuggingEnable, 0);
    EXPECT_EQ(aMorvassetDebuggingLevel, 0u);
    EXPECT_EQ(traced(aDEBUG_LINK), "");
}

TEST_F(DebugTrace, PrintsOnlyWhenEnabledAndTheBitIsSet)
{
    aMorvassetDebuggingLevel = aDEBUG_LINK | aDEBUG_USB;
    EXPECT_EQ(traced(aDEBUG_LINK), "") << "level alone must not print";

    aMorvassetDebuggingEnable = 1;
    EXPECT_EQ(traced(aDEBUG_LINK), "line 7 [x]\nplain\n");
    EXPECT_EQ(traced(aDEBUG_USB), "line 7 [x]\nplain\n");
    EXPECT_EQ(traced(aDEBUG_PACKETS), "");
    EXPECT_EQ(traced(aDEBUG_BEACON), "");

    aMorvassetDebuggingLevel = 0xFFFFFFFFu;
    aMorvassetDebuggingEnable = 0;
    EXPECT_EQ(traced(aDEBUG_SERVER), "");
}

}  // namespace
