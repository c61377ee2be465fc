// Fixture of the USB tests: an empty fake bus, an empty directory for the
// kernel driver's nodes (so no real node decides the mode), and the module's
// end of the bulk pipe of a plugged module.
#pragma once

#include "FakeUsbBus.h"
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

    bool writePeer(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(peer_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // What the host sent, until count bytes came or the time ran out.
    std::string readPeer(std::size_t count, int timeoutMs = 2000)
    {
        std::string out;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0)
                break;
            pollfd p{peer_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            char buffer[4096];
            ssize_t n = ::recv(peer_, buffer, std::min(sizeof(buffer), count - out.size()), MSG_DONTWAIT);
            if (n <= 0)
                break;
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

    morvtest::TempDir nodes_;
    aStream* stream_ = nullptr;
    int peer_ = -1;
};
