// Autobaud handshake: "?", "Synchronized", then the crystal frequency in kHz.
#include "NXPSerialClass.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Log.h"
#include "NXPSerialText.h"

using NXPSerialText::Printable;

namespace {

const char kSynchronized[] = "Synchronized\r\n";
const size_t kSynchronizedLength = sizeof(kSynchronized) - 1;
const char kOK[] = "OK\r\n";
const size_t kOKLength = sizeof(kOK) - 1;

bool IsOK(const char* answer, size_t count)
{
    return count == kOKLength && std::memcmp(answer, kOK, kOKLength) == 0;
}

}  // namespace

aErr NXPSerialClass::Sync()
{
    if (stream_ == nullptr)
        return aErrConnection;
    char answer[64];
    size_t count = 0;

    aErr err = Send("?", 1, false);
    if (err != aErrNone)
        return err;
    err = Response(answer, sizeof(answer), &count, kSynchronized, kSynchronizedLength);
    if (err != aErrNone) {
        Log::log(DEBUG_NXPSerial,
                 "Did not receive correct response to opening sync command: [%s]. Response: [%s]\n",
                 aError_GetErrorText(err), Printable(answer, count).c_str());
        return err;
    }
    if (count != kSynchronizedLength || std::memcmp(answer, kSynchronized, count) != 0)
        Log::log(DEBUG_NXPSerial, "Did not receive correct response [%s]\n",
                 Printable(answer, count).c_str());

    err = Send(kSynchronized, kSynchronizedLength, false);
    if (err != aErrNone)
        return err;
    Response(answer, sizeof(answer), &count, kSynchronized, kSynchronizedLength - 1);
    std::memset(answer, 0, sizeof(answer));
    Response(answer, sizeof(answer), &count, kOK, kOKLength);
    if (count < 2 || std::memcmp(answer, kOK, 2) != 0)
        Log::log(DEBUG_NXPSerial, "Did not receive correct response [%s] != [%s]\n",
                 Printable(answer, count).c_str(), "OK\\r\\n");

    char frequency[16];
    long kHz = std::lround(static_cast<double>(CRYSTAL_DEFAULT) * 1000.0);
    int length = std::snprintf(frequency, sizeof(frequency), "%ld\r\n", kHz);
    err = Send(frequency, static_cast<size_t>(length), false);
    if (err != aErrNone)
        return err;
    Response(answer, sizeof(answer), &count, frequency, static_cast<size_t>(length) - 1);
    std::memset(answer, 0, sizeof(answer));
    err = Response(answer, sizeof(answer), &count, kOK, kOKLength);
    if (err != aErrNone) {
        Log::log(DEBUG_NXPSerial, "Sync: no answer to the crystal frequency [%s]\n",
                 aError_GetErrorText(err));
        return err;
    }
    // Without the closing "OK" the boot ROM is not listening to commands.
    if (!IsOK(answer, count)) {
        Log::log(DEBUG_NXPSerial, "Did not receive correct response [%s] != [%s]\n",
                 Printable(answer, count).c_str(), "OK\\r\\n");
        return aErrIO;
    }
    return aErrNone;
}
