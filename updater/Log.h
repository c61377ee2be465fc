// Trace log of the Updater: printf-style lines tagged with a package value and
// filtered by the package mask that "-X" sets.
#ifndef UPDATER_LOG_H
#define UPDATER_LOG_H

#include <atomic>
#include <cstdint>
#include <cstdio>

// Package values; a trace line carries exactly one. Lines of package 0 are always
// written. The usage text also names 0x10 "DEBUG_Network"; nothing traces under it.
enum : uint32_t {
    DEBUG_Updater = 0x00000001u,
    DEBUG_History = 0x00000002u,
    DEBUG_Attributes = 0x00000004u,
    DEBUG_BirdFile = 0x00000008u,
    DEBUG_ServerComm = 0x00000020u,
    DEBUG_Network = 0x00000100u,
    DEBUG_Network_SR = 0x00000200u,
    DEBUG_Network_FIRM = 0x00000400u,
    DEBUG_NXPSerial = 0x00001000u,
    DEBUG_NXPSerial_E = 0x00002000u,
    DEBUG_NXPSerial_SR = 0x00004000u,
    DEBUG_APP = 0x00010000u,
    DEBUG_iMXSerial = 0x10000000u,
};

class Log {
public:
    Log() {}
    ~Log() {}

    // Formats into a 2048-byte buffer (cut at 2047 characters) and writes it with
    // one fwrite, so lines from two threads do not interleave. Adds no line end.
    static void log(unsigned package, const char* format, ...)
        __attribute__((format(printf, 2, 3)));

    // Destination of trace lines; nothing is written before it is set.
    static void SetOutput(FILE* f);
    static void ActivatePackage(unsigned bits);
    static void DeactivatePackage(unsigned bits);

private:
    // Atomic so that a trace from the download worker never races a reader.
    static std::atomic<FILE*> fh;
    static std::atomic<uint32_t> package_bitmask;
};

#endif
