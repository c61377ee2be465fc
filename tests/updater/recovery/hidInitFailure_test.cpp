// The one HID case the real hidapi over the emulated kernel cannot make: its
// hidraw backend's hid_init does not fail. Here the fake hidapi stands in for
// it (every other HID test runs the real library: umockHid*_test).
#include "FakeHidapi.h"
#include "HID_SDPLoader.h"
#include "SDPLoader.h"

#include <gtest/gtest.h>

namespace {

TEST(HidInit, AFailedHidInitIsNoDeviceAndIsPairedWithHidExit)
{
    fakehid::reset();
    fakehid::setInitError(true);
    {
        SDPLoader loader;
        ASSERT_TRUE(loader.setLoader(new HID_SDPLoader(0x1FC9, 0x0130)));
        EXPECT_EQ(6, loader.init());
    }
    fakehid::Stats stats = fakehid::stats();
    EXPECT_EQ(0, stats.openHandles);
    EXPECT_EQ(stats.inits, stats.exits) << "hid_exit pairs hid_init";
    fakehid::setInitError(false);
}

}  // namespace
