// I2CClass: an I2C bus of the module (command 8). Transfers are raw
// command-8 packets whose replies are matched by a byte prefix; the
// application probes the module bus behind a routing module with them.
#pragma once

#include <cstdint>

#include "EntityClass.h"

namespace Zorventa {
namespace Morvasset {

class I2CClass : public EntityClass {
public:
    static constexpr std::uint8_t kCommand = 8;
    // Data bytes one transfer carries at most.
    static constexpr std::uint8_t kMaxTransfer = 23;
    static constexpr std::uint8_t kMaxSpeed = 3;

    I2CClass() = default;
    ~I2CClass() override = default;

    // Binds the bus index; the speed code goes back to 0.
    aErr init(Module* module, std::uint8_t index);
    // Speed codes 0-3; the module gives them their meaning.
    aErr setSpeed(std::uint8_t speed);
    aErr getSpeed(std::uint8_t* speed);

    // address is the 8-bit bus address; a read sets its read bit (bit 0).
    aErr read(std::uint8_t address, std::uint8_t length, std::uint8_t* data);
    aErr write(std::uint8_t address, std::uint8_t length, const std::uint8_t* data);
    aErr setPullup(bool enable);

private:
    // Sends the request and awaits the reply beginning with prefix, as one
    // exchange; the reply's status result.
    aErr transfer(const std::uint8_t* request, std::uint8_t requestLength, const std::uint8_t* prefix,
                  std::uint8_t prefixLength, std::uint8_t* length, std::uint8_t* reply);

    std::uint8_t m_speed = 0;
};

}  // namespace Morvasset
}  // namespace Zorventa
