// ISP commands with a return code, and the identification replies.
#include "NXPSerialClass.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "Log.h"
#include "NXPSerialText.h"

using NXPSerialText::ParseNumber;
using NXPSerialText::Printable;
using NXPSerialText::WithoutTerminator;

namespace {

// Waits for a return code or a number line, in ms without bytes.
const uint32_t kReplyBudgetMs = 100;
// ISP return codes are small; anything wider is not a code.
const uint64_t kMaxCode = 255;

// The unlock code of the ISP "U" command.
const char kUnlockCommand[] = "U 23130\r\n";

bool Terminated(const char* line, size_t length)
{
    return length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n';
}

}  // namespace

const char* NXPSerialClass::ReturnCodeText(uint64_t code)
{
    return code < static_cast<uint64_t>(MAX_ERROR) ? ERROR_TEXT[code] : ERROR_TEXT[MAX_ERROR];
}

aErr NXPSerialClass::RunCommand(const char* text, const char* errorPrefix)
{
    lastCode_ = -1;
    if (stream_ == nullptr)
        return aErrConnection;
    const std::string command = Printable(text, std::strlen(text));
    aErr err = SendCommand(text, 0);
    if (err != aErrNone) {
        Log::log(DEBUG_NXPSerial, "%sError Sending command [%s] [%s]\n", errorPrefix,
                 command.c_str(), aError_GetErrorText(err));
        return err;
    }

    char line[64];
    size_t length = 0;
    err = GetLine(line, sizeof(line), &length, kReplyBudgetMs);
    if (!Terminated(line, length)) {
        if (err != aErrNone && err != aErrNotReady) {
            Log::log(DEBUG_NXPSerial, "%sError reading response to [%s] [%s]\n", errorPrefix,
                     command.c_str(), aError_GetErrorText(err));
            return err;
        }
        if (length == 0) {
            Log::log(DEBUG_NXPSerial, "%sNo response to command [%s]\n", errorPrefix,
                     command.c_str());
            return aErrTimeout;
        }
    }

    // The code is the whole line once an echo that shares it is removed, so
    // that "10" (COMPARE_ERROR) never passes for "0".
    const char* code = line;
    size_t codeLength = WithoutTerminator(line, length);
    if (echo_) {
        size_t echoLength = WithoutTerminator(text, std::strlen(text));
        if (codeLength > echoLength && std::memcmp(line, text, echoLength) == 0) {
            code += echoLength;
            codeLength -= echoLength;
        }
    }
    uint64_t value = 0;
    if (!Terminated(line, length) || !ParseNumber(code, codeLength, kMaxCode, value)) {
        Log::log(DEBUG_NXPSerial, "%sError response ==>[%s] [%s]\n", errorPrefix, ReturnCodeText(MAX_ERROR),
                 Printable(line, length).c_str());
        return aErrParam;
    }
    lastCode_ = static_cast<int>(value);
    if (value != 0) {
        Log::log(DEBUG_NXPSerial, "%sError response ==>[%s]\n", errorPrefix, ReturnCodeText(value));
        return aErrParam;
    }
    return aErrNone;
}

aErr NXPSerialClass::GetNumberLine(uint64_t maximum, uint64_t& value, const char* what)
{
    char line[32];
    size_t length = 0;
    aErr err = GetLine(line, sizeof(line), &length, kReplyBudgetMs);
    if (!Terminated(line, length)) {
        if (err != aErrNone && err != aErrNotReady) {
            Log::log(DEBUG_NXPSerial, "%s: read failed [%s]\n", what, aError_GetErrorText(err));
            return err;
        }
        if (length == 0) {
            Log::log(DEBUG_NXPSerial, "%s: no answer\n", what);
            return aErrTimeout;
        }
    }
    if (!Terminated(line, length) || !ParseNumber(line, length, maximum, value)) {
        Log::log(DEBUG_NXPSerial, "%s: not a number [%s]\n", what, Printable(line, length).c_str());
        return aErrParse;
    }
    return aErrNone;
}

aErr NXPSerialClass::Unlock()
{
    return RunCommand(kUnlockCommand, "");
}

aErr NXPSerialClass::SetEcho(bool on)
{
    Log::log(DEBUG_NXPSerial, "Setting device echo %d\n", on ? 1 : 0);
    aErr err = RunCommand(on ? "A 1\r\n" : "A 0\r\n", "");
    if (err == aErrNone)
        echo_ = on;
    return err;
}

aErr NXPSerialClass::SetBaudRate(uint32_t baud)
{
    char command[32];
    std::snprintf(command, sizeof(command), "B %u 1\r\n", baud);
    return RunCommand(command, "");
}

aErr NXPSerialClass::Prepare(uint32_t firstSector, uint32_t lastSector)
{
    lastCode_ = -1;
    if (lastSector < firstSector) {
        Log::log(DEBUG_NXPSerial, "Prepare: sector range %u to %u is empty\n", firstSector,
                 lastSector);
        return aErrParam;
    }
    char command[32];
    std::snprintf(command, sizeof(command), "P %u %u\r\n", firstSector, lastSector);
    return RunCommand(command, "");
}

aErr NXPSerialClass::Erase(uint32_t firstSector, uint32_t lastSector)
{
    lastCode_ = -1;
    if (lastSector < firstSector) {
        Log::log(DEBUG_NXPSerial, "Erase: sector range %u to %u is empty\n", firstSector,
                 lastSector);
        return aErrParam;
    }
    char command[32];
    std::snprintf(command, sizeof(command), "E %u %u\r\n", firstSector, lastSector);
    return RunCommand(command, "");
}

aErr NXPSerialClass::CopyToFlash(uint32_t flashAddress, uint32_t ramAddress, uint32_t count)
{
    lastCode_ = -1;
    if (flashAddress % 256 != 0 ||
        (count != 256 && count != 512 && count != 1024 && count != 4096)) {
        Log::log(DEBUG_NXPSerial, "CopyToFlash: bad flash address 0x%08X or count %u\n",
                 flashAddress, count);
        return aErrParam;
    }
    char command[48];
    std::snprintf(command, sizeof(command), "C %u %u %u\r\n", flashAddress, ramAddress, count);
    return RunCommand(command, "");
}

aErr NXPSerialClass::ExecuteFrom(uint32_t address)
{
    lastCode_ = -1;
    char command[32];
    std::snprintf(command, sizeof(command), "G %u T\r\n", address);
    aErr err = SendCommand(command, 0);
    if (err != aErrNone)
        Log::log(DEBUG_NXPSerial, "Error Sending command [%s] [%s]\n",
                 Printable(command, std::strlen(command)).c_str(), aError_GetErrorText(err));
    return err;
}

aErr NXPSerialClass::GetDeviceID()
{
    aErr err = RunCommand("N\r\n", "");
    if (err != aErrNone)
        return err;
    uint32_t words[4];
    for (int i = 0; i < 4; i++) {
        uint64_t value = 0;
        err = GetNumberLine(UINT32_MAX, value, "GetDeviceID()");
        if (err != aErrNone)
            return err;
        words[i] = static_cast<uint32_t>(value);
    }
    std::memcpy(deviceSerial_, words, sizeof(words));
    return aErrNone;
}

aErr NXPSerialClass::GetBootLoaderVersion(uint8_t& major, uint8_t& minor)
{
    aErr err = RunCommand("K\r\n", "");
    if (err != aErrNone)
        return err;
    uint64_t high = 0;
    uint64_t low = 0;
    err = GetNumberLine(UINT8_MAX, high, "GetBootLoaderVersion()");
    if (err == aErrNone)
        err = GetNumberLine(UINT8_MAX, low, "GetBootLoaderVersion()");
    if (err != aErrNone)
        return err;
    major = static_cast<uint8_t>(high);
    minor = static_cast<uint8_t>(low);
    Log::log(DEBUG_NXPSerial, "Device responded with version: %d.%d\n", major, minor);
    return aErrNone;
}

aErr NXPSerialClass::GetPartNumber(int64_t& number)
{
    aErr err = RunCommand("J\r\n", "");
    if (err != aErrNone)
        return err;
    uint64_t value = 0;
    err = GetNumberLine(INT64_MAX, value, "GetPartNumber()");
    if (err != aErrNone)
        return err;
    number = static_cast<int64_t>(value);
    Log::log(DEBUG_NXPSerial, "Device responded with part number: %lld\n",
             static_cast<long long>(number));
    return aErrNone;
}
