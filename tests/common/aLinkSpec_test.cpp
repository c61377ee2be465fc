#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "aLinkSpec.h"

namespace {

TEST(LinkSpecLayout, FieldsSitWhereTheWireHasThem)
{
    EXPECT_EQ(sizeof(linkSpec), 128u);
    EXPECT_EQ(offsetof(linkSpec, type), 0u);
    EXPECT_EQ(offsetof(linkSpec, serialNumber), 4u);
    EXPECT_EQ(offsetof(linkSpec, module), 8u);
    EXPECT_EQ(offsetof(linkSpec, router), 12u);
    EXPECT_EQ(offsetof(linkSpec, routerSerial), 16u);
    EXPECT_EQ(offsetof(linkSpec, model), 20u);
    EXPECT_EQ(offsetof(linkSpec, ipAddress), 24u);
    EXPECT_EQ(offsetof(linkSpec, usbId), 24u);
    EXPECT_EQ(offsetof(linkSpec, baudRate), 24u);
    EXPECT_EQ(offsetof(linkSpec, port), 28u);
    EXPECT_EQ(offsetof(linkSpec, path), 28u);
    EXPECT_EQ(sizeof(linkSpec{}.path), 100u);
    EXPECT_EQ(linkTypeUSB, 1);
    EXPECT_EQ(linkTypeTCPIP, 2);
    EXPECT_EQ(linkTypeSerial, 3);
    EXPECT_EQ(linkTypeAEther, 4);
}

TEST(LinkSpecRecord, CreateCopyDestroy)
{
    linkSpec* spec = aLinkSpec_Create(linkTypeSerial);
    ASSERT_NE(spec, nullptr);
    const auto* raw = reinterpret_cast<const unsigned char*>(spec);
    EXPECT_EQ(spec->type, linkTypeSerial);
    for (size_t i = 4; i < sizeof(*spec); ++i)
        ASSERT_EQ(raw[i], 0) << "byte " << i;

    spec->serialNumber = 0xDEADBEEF;
    spec->baudRate = 115200;
    std::strcpy(spec->path, "/dev/ttyUSB0");
    std::memset(spec->path + 50, 0x7E, 50); // every byte is copied, not just the text
    linkSpec* copy = aLinkSpec_Copy(spec);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, spec);
    EXPECT_EQ(std::memcmp(copy, spec, sizeof(*spec)), 0);

    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrNone);
    EXPECT_EQ(spec, nullptr);
    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrParam);
    EXPECT_EQ(aLinkSpec_Destroy(nullptr), aErrParam);
    EXPECT_EQ(aLinkSpec_Destroy(&copy), aErrNone);
    EXPECT_EQ(aLinkSpec_Copy(nullptr), nullptr);
}

}  // namespace
