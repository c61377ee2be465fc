// Connection and byte-level exchange with the boot ROM: sending with echo
// checks, reading lines and fixed answers. Waits are bounded by the time spent
// without bytes, measured on the monotonic clock.
#include "NXPSerialClass.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Log.h"
#include "NXPSerialText.h"
#include "aTime.h"

using NXPSerialText::HexBytes;
using NXPSerialText::Printable;

namespace {

const uint32_t kBaudTable[8] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
const int kDefaultBaudIndex = 2;

// An echo may miss this long in total before it is given up.
const uint32_t kEchoBudgetMs = 100;
// Bytes that are not the echo (a line end left over, noise) dropped at most.
const size_t kEchoStrayLimit = 100;
// Line ends and zero bytes skipped at the start of an answer at most.
const size_t kResponseSkipLimit = 64;

// One byte, or aErrNotReady after the stream's own short wait; *waited gets the
// time the empty read and the pause after it took (at least 1 ms).
aErr ReadByte(aStream* stream, char* byte, uint32_t* waited)
{
    uint64_t before = aTime_GetMSTicks();
    aErr err = aStream_Read(stream, byte, 1);
    if (err == aErrNotReady) {
        aTime_MSSleep(1);
        uint64_t spent = aTime_GetMSTicks() - before;
        *waited = spent == 0 ? 1 : static_cast<uint32_t>(std::min<uint64_t>(spent, UINT32_MAX));
    }
    return err;
}

size_t EchoLength(const char* text, size_t length)
{
    // The line feed that closes a command is left for the reply reader, which
    // skips it; everything else is echoed whole.
    return length > 0 && text[length - 1] == '\n' ? length - 1 : length;
}

// Follows the "\r\n" that ends a line, byte by byte.
class LineEnd {
public:
    void feed(char byte)
    {
        if (byte == '\r')
            state_ = 1;
        else if (byte == '\n' && state_ == 1)
            state_ = 2;
        else
            state_ = 0;
    }
    bool complete() const { return state_ == 2; }

private:
    int state_ = 0;  // 1 after "\r", 2 after "\r\n"
};

// Line ends and zero bytes that come before an answer, skipped up to a limit.
bool SkipsLeading(char byte, size_t stored, size_t* skipped)
{
    if (*skipped >= kResponseSkipLimit)
        return false;
    if (stored == 0 && (byte == '\n' || byte == '\r')) {
        ++*skipped;
        Log::log(DEBUG_NXPSerial_E,
                 byte == '\n' ? "Response ignoring leading \\n\n" : "Response ignoring leading \\r\n");
        return true;
    }
    if (stored < 3 && byte == '\0') {
        ++*skipped;
        Log::log(DEBUG_NXPSerial_E, "Response ignoring leading 0 byte\n");
        return true;
    }
    return false;
}

void LogMismatch(size_t index, char got, char want)
{
    Log::log(DEBUG_NXPSerial_E,
             "Error Test_Serial_Response() Expected byte %zu does not match [[%02X] %s != %s "
             "[%02X]]\n",
             index, static_cast<unsigned char>(got), Printable(&got, 1).c_str(), Printable(&want, 1).c_str(),
             static_cast<unsigned char>(want));
}

}  // namespace

NXPSerialClass::NXPSerialClass() = default;

NXPSerialClass::~NXPSerialClass()
{
    Disconnect();
}

aErr NXPSerialClass::Connect(const std::string& port, uint32_t baud)
{
    Disconnect();
    int index = -1;
    for (int i = 0; i < 8; i++) {
        if (kBaudTable[i] >= baud) {
            index = i;
            break;
        }
    }
    if (index < 0)
        index = kDefaultBaudIndex;
    baud_ = kBaudTable[index];
    Log::log(DEBUG_NXPSerial, "Creating serial connection: [%s] stream baud:%d(%u)\n", port.c_str(), index, baud_);
    aErr err = aStream_CreateSerial(port.c_str(), index, false, 0, 0, &stream_);
    if (err != aErrNone) {
        stream_ = nullptr;
        Log::log(DEBUG_NXPSerial, "Error Creating Serial [%s] ==> %s\n", port.c_str(), aError_GetErrorText(err));
        return err;
    }
    return aErrNone;
}

aErr NXPSerialClass::UseStream(aStream* stream, uint32_t baud)
{
    if (!aVALIDSTREAM(stream))
        return aErrParam;
    Disconnect();
    stream_ = stream;
    baud_ = baud;
    return aErrNone;
}

aErr NXPSerialClass::Disconnect()
{
    if (stream_ != nullptr)
        aStream_Destroy(&stream_);
    stream_ = nullptr;
    return aErrNone;
}

uint32_t NXPSerialClass::GetDeviceSerial(int index) const
{
    return index >= 0 && index < 4 ? deviceSerial_[index] : 0;
}

aErr NXPSerialClass::Send(const char* text, size_t length, bool expectEcho)
{
    if (stream_ == nullptr)
        return aErrConnection;
    Log::log(DEBUG_NXPSerial_SR, "Sending:[%s] [%s]\n", HexBytes(text, length).c_str(),
             Printable(text, length).c_str());
    aErr err = aStream_Write(stream_, text, length);
    if (err != aErrNone) {
        Log::log(DEBUG_NXPSerial, "Error Test_Serial_Send() [%s]\n", aError_GetErrorText(err));
        return err;
    }
    if (expectEcho) {
        size_t echoed = 0;
        GetEcho(text, EchoLength(text, length), &echoed);
    }
    return err;
}

aErr NXPSerialClass::SendCommand(const char* text, uint32_t waitMs)
{
    if (stream_ == nullptr)
        return aErrConnection;
    size_t length = std::strlen(text);
    Log::log(DEBUG_NXPSerial_SR, "Sending:[%s] [%s]\n", HexBytes(text, length).c_str(),
             Printable(text, length).c_str());
    aErr err = aStream_Write(stream_, text, length);
    if (waitMs > 0) {
        Log::log(DEBUG_NXPSerial_E, "SendCommand() wait for command completion [%u ms]\n", waitMs);
        aTime_MSSleep(waitMs);
    }
    if (err != aErrNone) {
        Log::log(DEBUG_NXPSerial, "Error Test_Serial_Send() [%s]\n", aError_GetErrorText(err));
        Log::log(DEBUG_NXPSerial, "Error Write Serial [%s]\n", aError_GetErrorText(err));
        return err;
    }
    if (echo_) {
        size_t want = EchoLength(text, length);
        size_t echoed = 0;
        GetEcho(text, want, &echoed);
        if (echoed < want)
            Log::log(DEBUG_NXPSerial_E, "Error SendCommand() bad echo [%zu!=%zu]\n", echoed, want);
    }
    return err;
}

aErr NXPSerialClass::GetEcho(const char* expected, size_t n, size_t* count)
{
    *count = 0;
    if (stream_ == nullptr)
        return aErrConnection;
    Log::log(DEBUG_NXPSerial_E, "GetEcho([%s] %zu, ...)\n", HexBytes(expected, n).c_str(), n);
    std::string detail = "recv Echo:[";
    size_t matched = 0;
    size_t strays = 0;
    uint32_t idle = 0;
    aErr err = aErrNone;
    char text[16];
    while (matched < n) {
        char byte = 0;
        uint32_t waited = 0;
        err = ReadByte(stream_, &byte, &waited);
        if (err == aErrNotReady) {
            detail += '.';
            idle += waited;
            if (idle >= kEchoBudgetMs)
                break;
            continue;
        }
        if (err != aErrNone)
            break;
        unsigned char got = static_cast<unsigned char>(byte);
        unsigned char want = static_cast<unsigned char>(expected[matched]);
        if (got == want) {
            std::snprintf(text, sizeof(text), " %02X", got);
            matched++;
        } else {
            std::snprintf(text, sizeof(text), " %02X!=%02X", got, want);
        }
        detail += text;
        if (got != want && ++strays >= kEchoStrayLimit)
            break;
    }
    detail += "]\n";
    Log::log(DEBUG_NXPSerial_E, "%s", detail.c_str());
    *count = matched;
    return err;
}

aErr NXPSerialClass::GetLine(char* buffer, size_t size, size_t* length, uint32_t budgetMs)
{
    *length = 0;
    if (buffer == nullptr || size == 0)
        return aErrParam;
    buffer[0] = '\0';
    if (stream_ == nullptr)
        return aErrConnection;
    size_t stored = 0;
    LineEnd end;
    uint32_t idle = 0;
    std::string waits;
    aErr err = aErrNone;
    while (stored < size - 1 && !end.complete() && idle < budgetMs) {
        char byte = 0;
        uint32_t waited = 0;
        err = ReadByte(stream_, &byte, &waited);
        if (err == aErrNotReady) {
            idle += waited;
            waits += '.';
            continue;
        }
        if (err != aErrNone)
            break;
        if (stored == 0 && byte == '\n') {
            // The line feed an echo left behind.
            idle += 1;
            waits += ',';
            aTime_MSSleep(1);
            continue;
        }
        buffer[stored++] = byte;
        end.feed(byte);
    }
    buffer[stored] = '\0';
    *length = stored;
    if (!waits.empty())
        Log::log(DEBUG_NXPSerial_E, "%s\n", waits.c_str());
    Log::log(DEBUG_NXPSerial_SR, "GetLine() Received: [%s] [%s] %zu %s [%s]\n", HexBytes(buffer, stored).c_str(),
             Printable(buffer, stored).c_str(), stored, end.complete() ? "term" : "non-term", aError_GetErrorText(err));
    return err;
}

aErr NXPSerialClass::Response(char* buffer, size_t size, size_t* count, const char* expected, size_t expectedLength)
{
    *count = 0;
    if (buffer == nullptr || size == 0)
        return aErrParam;
    if (stream_ == nullptr)
        return aErrConnection;
    size_t limit = expected != nullptr ? std::min(expectedLength, size) : size - 1;
    uint32_t wait = WAIT_TIME_MS(static_cast<uint32_t>(expectedLength), baud_) + 20;
    Log::log(DEBUG_NXPSerial_E, "Response() wait for serial [%zu bytes, %u, %u ms]\n", expectedLength, baud_, wait);
    aTime_MSSleep(wait);

    size_t stored = 0;
    size_t skipped = 0;
    LineEnd end;
    aErr err = aErrNone;
    while (err == aErrNone && stored < limit && !end.complete()) {
        char byte = 0;
        uint32_t waited = 0;
        err = ReadByte(stream_, &byte, &waited);
        if (err == aErrNotReady) {
            Log::log(DEBUG_NXPSerial_E, ".");
            break;
        }
        if (err != aErrNone)
            break;
        if (SkipsLeading(byte, stored, &skipped))
            continue;
        if (expected != nullptr && byte != expected[stored])
            LogMismatch(stored, byte, expected[stored]);
        buffer[stored++] = byte;
        end.feed(byte);
    }
    *count = stored;
    Log::log(DEBUG_NXPSerial_SR, "Response: [%s] [%s]\n", HexBytes(buffer, stored).c_str(),
             Printable(buffer, stored).c_str());
    return err;
}
