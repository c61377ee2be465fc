// Data transfers: uuencoded lines to RAM ("W") and from memory ("R"), with a
// checksum every LINES_PER_CHECKSUM lines answered OK or RESEND.
#include "NXPSerialClass.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Log.h"
#include "NXPSerialText.h"
#include "aTime.h"

using NXPSerialText::ParseNumber;
using NXPSerialText::Printable;

namespace {

const uint32_t kChecksumBudgetMs = 2000;
const uint32_t kLineBudgetMs = 100;
const char kOK[] = "OK\r\n";
const char kResend[] = "RESEND\r\n";

bool LineIs(const char* line, size_t length, const char* text)
{
    return length == std::strlen(text) && std::memcmp(line, text, length) == 0;
}

bool Terminated(const char* line, size_t length)
{
    return length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n';
}

double Percent(uint32_t done, uint32_t total)
{
    return total == 0 ? 100.0 : 100.0 * done / total;
}

}  // namespace

aErr NXPSerialClass::BeginTransfer(char letter, const char* name, uint32_t address, uint32_t count, bool haveBuffer)
{
    lastCode_ = -1;
    if (count == 0 || count % 4 != 0 || !haveBuffer) {
        Log::log(DEBUG_NXPSerial, "%s() count %u is not a positive multiple of 4\n", name, count);
        return aErrParam;
    }
    if (stream_ == nullptr)
        return aErrConnection;
    char command[48];
    std::snprintf(command, sizeof(command), "%c %u %u\r\n", letter, address, count);
    char prefix[16];
    std::snprintf(prefix, sizeof(prefix), "%s() ", name);
    return RunCommand(command, prefix);
}

aErr NXPSerialClass::SendDataLine(const uint8_t* data, size_t n)
{
    char line[64];
    uuencode(line, sizeof(line), data, n);
    aErr err = Send(line, std::strlen(line), echo_);
    if (err == aErrNone)
        err = Send("\r\n", 2, false);
    if (err == aErrNone && echo_) {
        // No reply line follows a data line, so its line feed is taken here.
        size_t echoed = 0;
        GetEcho("\r\n", 2, &echoed);
    }
    if (err != aErrNone)
        Log::log(DEBUG_NXPSerial, "Write() failed sending data [%s]\n", aError_GetErrorText(err));
    return err;
}

aErr NXPSerialClass::SendChecksum(uint32_t checksum, bool* resend)
{
    *resend = false;
    Log::log(DEBUG_NXPSerial_SR, "Write() Checksum: %08X (%u)\n", checksum, checksum);
    char text[16];
    int textLength = std::snprintf(text, sizeof(text), "%u\r\n", checksum);
    aErr err = Send(text, static_cast<size_t>(textLength), echo_);
    if (err != aErrNone) {
        Log::log(DEBUG_NXPSerial, "Write() failed sending checksum [%s]\n", aError_GetErrorText(err));
        return err;
    }
    char reply[32];
    uint64_t started = aTime_GetMSTicks();
    size_t length = 0;
    err = GetLine(reply, sizeof(reply), &length, kChecksumBudgetMs);
    Log::log(DEBUG_NXPSerial_SR, "Write() waited for checksum %llu ms\n",
             static_cast<unsigned long long>(aTime_GetMSTicks() - started + 1));
    if (LineIs(reply, length, kOK))
        return aErrNone;
    if (LineIs(reply, length, kResend)) {
        *resend = true;
        return aErrNone;
    }
    if (length == 0 && err != aErrNone && err != aErrNotReady) {
        Log::log(DEBUG_NXPSerial, "Write() lost the line waiting for the checksum reply [%s]\n",
                 aError_GetErrorText(err));
        return err;
    }
    if (length == 0) {
        Log::log(DEBUG_NXPSerial, "Write() no reply to checksum\n");
        return aErrTimeout;
    }
    Log::log(DEBUG_NXPSerial, "Write() unexpected response [%s]\n", Printable(reply, length).c_str());
    return aErrIO;
}

aErr NXPSerialClass::Write(uint32_t address, uint32_t count, const uint8_t* data)
{
    aErr err = BeginTransfer('W', "Write", address, count, data != nullptr);
    if (err != aErrNone)
        return err;

    uint32_t position = 0;
    uint32_t acknowledged = 0;
    int lines = 0;
    int retries = MAX_READ_RETRY;
    while (position < count) {
        size_t chunk = std::min<size_t>(MAX_BYTES_PER_LINE, count - position);
        err = SendDataLine(data + position, chunk);
        if (err != aErrNone)
            return err;
        position += static_cast<uint32_t>(chunk);
        lines++;
        if (lines < LINES_PER_CHECKSUM && position < count)
            continue;

        bool resend = false;
        err = SendChecksum(sum(data + acknowledged, position - acknowledged), &resend);
        if (err != aErrNone)
            return err;
        if (!resend) {
            acknowledged = position;
            Log::log(DEBUG_NXPSerial_SR, "Write() valid transfer of %u of %u (%.0f%%) bytes\n", acknowledged, count,
                     Percent(acknowledged, count));
        } else {
            if (--retries <= 0) {
                Log::log(DEBUG_NXPSerial, "Write() exceeded retries\n");
                return aErrTimeout;
            }
            position = acknowledged;
        }
        lines = 0;
    }
    return aErrNone;
}

aErr NXPSerialClass::ReadAnswerLine(char* line, size_t size, size_t* length, const char* what)
{
    aErr err = GetLine(line, size, length, kLineBudgetMs);
    if (*length == 0) {
        Log::log(DEBUG_NXPSerial, "Read() no %s [%s]\n", what, aError_GetErrorText(err));
        return err != aErrNone && err != aErrNotReady ? err : aErrTimeout;
    }
    return aErrNone;
}

aErr NXPSerialClass::ReadDataLine(char* line, size_t size, uint8_t* target, size_t n, bool* damaged)
{
    size_t length = 0;
    aErr err = ReadAnswerLine(line, size, &length, "data line");
    if (err != aErrNone)
        return err;
    // A line that is cut or decodes to another count spoils its block; the
    // block is still counted out so that the checksum is read in its place.
    uint8_t decoded[MAX_BYTES_PER_LINE];
    if (Terminated(line, length) && uudecode(decoded, n, line) == n)
        std::memcpy(target, decoded, n);
    else
        *damaged = true;
    return aErrNone;
}

aErr NXPSerialClass::AcknowledgeBlock(bool last)
{
    aErr err = Send(kOK, 4, false);
    if (err == aErrNone && echo_) {
        size_t echoed = 0;
        GetEcho(kOK, last ? 4 : 3, &echoed);
    }
    return err;
}

aErr NXPSerialClass::Read(uint32_t address, uint32_t count, uint8_t* buffer)
{
    aErr err = BeginTransfer('R', "Read", address, count, buffer != nullptr);
    if (err != aErrNone)
        return err;

    uint32_t position = 0;
    uint32_t acknowledged = 0;
    int lines = 0;
    int retries = MAX_READ_RETRY;
    bool damaged = false;
    char line[128];
    while (position < count) {
        size_t expected = std::min<size_t>(MAX_BYTES_PER_LINE, count - position);
        err = ReadDataLine(line, sizeof(line), buffer + position, expected, &damaged);
        if (err != aErrNone)
            return err;
        position += static_cast<uint32_t>(expected);
        lines++;
        if (lines < LINES_PER_CHECKSUM && position < count)
            continue;

        size_t length = 0;
        err = ReadAnswerLine(line, sizeof(line), &length, "checksum");
        if (err != aErrNone)
            return err;
        uint64_t theirs = 0;
        bool numeric = Terminated(line, length) && ParseNumber(line, length, UINT32_MAX, theirs);
        uint32_t ours = sum(buffer + acknowledged, position - acknowledged);
        if (!damaged && numeric && theirs == ours) {
            err = AcknowledgeBlock(position == count);
            if (err != aErrNone)
                return err;
            acknowledged = position;
            Log::log(DEBUG_NXPSerial_SR, "valid receipt of %u of %u (%.0f%%) bytes\n", acknowledged, count,
                     Percent(acknowledged, count));
        } else {
            Log::log(DEBUG_NXPSerial_E, "Read() checksum mismatch [%s] != %u\n", Printable(line, length).c_str(), ours);
            if (--retries <= 0) {
                Log::log(DEBUG_NXPSerial, "Read() exceeded retries\n");
                return aErrTimeout;
            }
            err = Send(kResend, 8, echo_);
            if (err != aErrNone)
                return err;
            position = acknowledged;
        }
        lines = 0;
        damaged = false;
    }
    return aErrNone;
}
