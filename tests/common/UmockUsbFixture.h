// Fixture of the USB tests on the real libusb-1.0 over the emulated kernel:
// each test starts with an empty emulated bus and a fresh libusb context (so
// it enumerates only this test's devices), and an empty directory for the
// kernel driver's nodes (so no real node decides the mode).
#pragma once

#include "TempDir.h"
#include "UsbTestbed.h"
#include "aStreamUSB.h"
#include "aUSBDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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
    std::string readPeer(std::size_t count, int timeoutMs = 3000)
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
