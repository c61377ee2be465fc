// What discovery learnt about one module, for the device listing and for
// updates through a routing module.
#ifndef MORV_UPDATER_DEVICEINFO_H
#define MORV_UPDATER_DEVICEINFO_H

#include <cstdint>
#include <cstring>
#include <string>

#include "aLinkSpec.h"

struct DeviceInfo {
    // Module and router address are the module's own answers once it gave them.
    linkSpec spec;
    // Address on the routing module's I2C bus; set by the routed search only.
    uint16_t i2cAddress = 0;
    // 0 when the module did not tell it.
    uint32_t build = 0;
    uint8_t major = 0;
    uint8_t minor = 0;
    uint32_t patch = 0;
    std::string modelName;
    // The bytes the module reported, unfiltered: escape before printing.
    std::string deviceName;
    // aErr of the last query of this module; 0 when every query succeeded.
    uint32_t error = 0;

    DeviceInfo() { std::memset(&spec, 0, sizeof spec); }
};

#endif
