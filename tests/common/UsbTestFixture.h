// Fixture of the USB tests: an empty fake bus, an empty directory for the
// kernel driver's nodes (so no real node decides the mode), and the module's
// end of the bulk pipe of a plugged module.
#pragma once

#include "FakeUsbBus.h"
#include "FdIo.h"
#include "TempDir.h"
#include "aStreamUSB.h"
#include "aUSBDriver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

class UsbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakeusb::reset();
        mvusb_set_node_directory(nodes_.path().c_str());
    }

    void TearDown() override
    {
        if (stream_ != nullptr)
            aStream_Destroy(&stream_);
        if (peer_ >= 0)
            ::close(peer_);
        mvusb_set_node_directory(nullptr);
        fakeusb::reset();
    }

    // Plugs a module and keeps its end of the pipe in peer_.
    int plugModule(std::uint32_t serial, std::uint16_t maxPacket = 64)
    {
        return plugSpec(fakeusb::moduleSpec(serial, 0x11, maxPacket));
    }

    int plugSpec(const fakeusb::DeviceSpec& spec)
    {
        int id = fakeusb::plug(spec);
        if (peer_ < 0)
            peer_ = fakeusb::takePeerFd(id);
        return id;
    }

    bool writePeer(const std::string& bytes) { return morvtest::sendAll(peer_, bytes); }

    // What the host sent, until count bytes came or the time ran out.
    std::string readPeer(std::size_t count, int timeoutMs = 2000) { return morvtest::readUpTo(peer_, count, timeoutMs); }

    morvtest::TempDir nodes_;
    aStream* stream_ = nullptr;
    int peer_ = -1;
};
