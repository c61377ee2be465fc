// Reads from an aStream in a test, retrying "not ready" up to a time-out.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "Elapsed.h"
#include "aStream.h"

namespace morvtest {

// Reads count bytes into out; the last answer of the stream.
inline aErr readWithin(aStream* stream, std::string& out, std::size_t count, int timeoutMs)
{
    out.assign(count, '\0');
    const auto start = std::chrono::steady_clock::now();
    aErr err;
    do {
        err = aStream_Read(stream, &out[0], count);
    } while (err == aErrNotReady && msSince(start) < timeoutMs);
    return err;
}

// Reads one byte; the last answer of the stream.
inline aErr readByteWithin(aStream* stream, int timeoutMs)
{
    char c;
    const auto start = std::chrono::steady_clock::now();
    aErr err;
    do {
        err = aStream_Read(stream, &c, 1);
    } while (err == aErrNotReady && msSince(start) < timeoutMs);
    return err;
}

}  // namespace morvtest
