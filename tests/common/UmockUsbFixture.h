// Fixture of the USB tests on the real libusb-1.0 over the emulated kernel:
// each test starts with an empty emulated bus and a fresh libusb context (so
// it enumerates only this test's devices), and an empty directory for the
// kernel driver's nodes (so no real node decides the mode).
#pragma once

#include "FdIo.h"
#include "TempDir.h"
#include "UsbTestbed.h"
#include "aLinkSpec.h"
#include "aStreamUSB.h"
#include "aUSBDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// The linkSpec of a USB module with this serial number, as discovery gives it.
inline linkSpec usbSpec(std::uint32_t serial)
{
    linkSpec s;
    std::memset(&s, 0, sizeof s);
    s.type = linkTypeUSB;
    s.serialNumber = serial;
    s.usbId = serial;
    return s;
}

class UmockUsbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bed().reset();
        Morvasset_libusb_exit();
        mvusb_set_node_directory(nodes_.path().c_str());
    }

    void TearDown() override
    {
        if (stream_ != nullptr)
            aStream_Destroy(&stream_);
        if (peer_ >= 0)
            ::close(peer_);
        mvusb_set_node_directory(nullptr);
        Morvasset_libusb_exit();
        bed().reset();
    }

    static umockusb::Testbed& bed() { return umockusb::Testbed::instance(); }

    // Plugs a module and keeps its end of the pipe in peer_ (the first one's).
    int plugModule(std::uint32_t serial, std::uint16_t maxPacket = 64)
    {
        return plugSpec(umockusb::moduleSpec(serial, 0x11, maxPacket));
    }

    int plugSpec(const umockusb::DeviceSpec& spec)
    {
        int id = bed().plug(spec);
        if (peer_ < 0)
            peer_ = bed().takePeerFd(id);
        return id;
    }

    bool writePeer(const std::string& bytes) { return morvtest::sendAll(peer_, bytes); }

    // What the host sent, until count bytes came or the time ran out.
    std::string readPeer(std::size_t count, int timeoutMs = 3000) { return morvtest::readUpTo(peer_, count, timeoutMs); }

    // Bytes of the OUT URBs, in order.
    std::vector<int> outChunks(int id)
    {
        std::vector<int> chunks;
        for (const auto& t : bed().stats(id).transfers)
            if ((t.endpoint & 0x80) == 0)
                chunks.push_back(t.requested);
        return chunks;
    }

    std::size_t inTransfers(int id)
    {
        std::size_t n = 0;
        for (const auto& t : bed().stats(id).transfers)
            n += (t.endpoint & 0x80) != 0 ? 1 : 0;
        return n;
    }

    morvtest::TempDir nodes_;
    aStream* stream_ = nullptr;
    int peer_ = -1;
};

// One module of the given serial number, opened as a USB stream; faults queued per direction.
class UmockOpenStreamTest : public UmockUsbTest {
protected:
    explicit UmockOpenStreamTest(std::uint32_t serial) : serial_(serial) {}

    void open(std::uint16_t maxPacket = 64)
    {
        id_ = plugModule(serial_, maxPacket);
        ASSERT_EQ(aStream_CreateUSB(serial_, &stream_), aErrNone);
    }
    aErr get(char& byte) { return aStream_Read(stream_, &byte, 1); }
    void inFault(int error, int bytes = 0) { bed().queueFault(id_, umockusb::Direction::In, {error, bytes}); }
    void outFault(int error, int bytes = 0) { bed().queueFault(id_, umockusb::Direction::Out, {error, bytes}); }

    const std::uint32_t serial_;
    int id_ = 0;
};
