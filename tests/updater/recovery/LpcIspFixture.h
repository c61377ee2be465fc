// A simulated LPC boot ROM on a pseudo-terminal and an ISP client connected to
// it, with the client's traces going to a temporary file.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "LpcIspSimulator.h"
#include "Log.h"
#include "NXPSerialClass.h"
#include "PtyPair.h"

namespace lpctest {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr unsigned kTracePackages = DEBUG_NXPSerial | DEBUG_NXPSerial_E | DEBUG_NXPSerial_SR;

inline long MsSince(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

inline Bytes RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes out(n);
    for (uint8_t& b : out)
        b = static_cast<uint8_t>(random());
    return out;
}

class LpcIspTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_ = std::tmpfile();
        ASSERT_NE(nullptr, log_);
        // Every trace is formatted, so the sanitizers see the trace paths too.
        Log::SetOutput(log_);
        Log::ActivatePackage(kTracePackages);
        rom_ = std::make_unique<morvsim::LpcIspSimulator>(pty_);
        ASSERT_EQ(aErrNone, isp_.Connect(pty_.slavePath(), 115200));
    }

    void TearDown() override
    {
        isp_.Disconnect();
        rom_.reset();
        Log::SetOutput(nullptr);
        Log::DeactivatePackage(kTracePackages);
        std::fclose(log_);
    }

    // Synchronised, with the boot ROM's echo as asked.
    void Ready(bool echo = true)
    {
        ASSERT_EQ(aErrNone, isp_.Sync());
        if (!echo) {
            ASSERT_EQ(aErrNone, isp_.SetEcho(false));
            ASSERT_FALSE(rom_->echo());
        }
    }

    std::string Trace()
    {
        std::fflush(log_);
        std::string text;
        std::rewind(log_);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), log_)) > 0)
            text.append(buffer, n);
        std::fseek(log_, 0, SEEK_END);
        return text;
    }

    morvtest::PtyPair pty_;
    std::unique_ptr<morvsim::LpcIspSimulator> rom_;
    NXPSerialClass isp_;
    FILE* log_ = nullptr;
};

// The same with the boot ROM's echo on (true) or off (false).
class LpcIspEchoTest : public LpcIspTest, public ::testing::WithParamInterface<bool> {};

inline std::string EchoName(const ::testing::TestParamInfo<bool>& info)
{
    return info.param ? "EchoOn" : "EchoOff";
}

}  // namespace lpctest
