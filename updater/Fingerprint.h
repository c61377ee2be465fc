// The four-word identifier of a module's processor, read through its boot ROM.
#ifndef MORV_UPDATER_FINGERPRINT_H
#define MORV_UPDATER_FINGERPRINT_H

#include <cstdint>

struct Fingerprint {
    uint32_t words[4];
};

// The serial number a module running the recovery loader answers to, and the
// store directory of the default recovery image.
constexpr uint32_t DEFAULT_SERIAL_NUMBER = 0xDEADDEADu;

#endif
