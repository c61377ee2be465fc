// The library's C headers as C++ code often includes C headers: inside
// extern "C", with nothing included before them. That this file compiles is
// most of the test; the cases check that the records and functions seen this
// way are the library's own.
extern "C" {
#include "aAtomic.h"
#include "aDebug.h"
#include "aDefs.h"
#include "aDirectory.h"
#include "aDiscovery.h"
#include "aDiscoveryInterfaces.h"
#include "aError.h"
#include "aFile.h"
#include "aLink.h"
#include "aLinkNetwork.h"
#include "aLinkRegistry.h"
#include "aLinkSpec.h"
#include "aLogger.h"
#include "aMulticast.h"
#include "aMutex.h"
#include "aPacket.h"
#include "aPacketDebug.h"
#include "aPacketFifo.h"
#include "aPacketLog.h"
#include "aServer.h"
#include "aStream.h"
#include "aStreamClient.h"
#include "aStreamUSB.h"
#include "aThread.h"
#include "aTime.h"
#include "aUEI.h"
#include "aUSBDriver.h"
#include "aVersion.h"
#include "zBeaconInterface.h"
}

#include <gtest/gtest.h>

namespace {

TEST(HeadersInExternC, SharedFieldsAreUsableAtomics)
{
    aLink link{};
    link.status.store(linkStatusRunning);
    EXPECT_EQ(link.status.load(), linkStatusRunning);
    aLogger logger{};
    logger.running.store(1);
    EXPECT_EQ(logger.running.load(), 1);
}

TEST(HeadersInExternC, FunctionsLinkToTheLibrary)
{
    EXPECT_EQ(aLink_GetStatus(987654), linkStatusNoStream);
    EXPECT_STREQ(aError_GetErrorText(aErrTimeout), "aErrTimeout");
    aPacket* packet = aPacket_Create();
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(aPacket_Destroy(&packet), aErrNone);
}

}  // namespace
