// A transport to an i.MX boot ROM in serial download mode: what the protocol
// engine needs of USB HID or a serial port.
#ifndef UPDATER_RECOVERY_SDPLOADER_INTERFACE_H
#define UPDATER_RECOVERY_SDPLOADER_INTERFACE_H

#include <sys/types.h>

#include <cstdint>
#include <vector>

class SDPLoader_Interface {
public:
    virtual ~SDPLoader_Interface() = default;

    // Opens the device; true when it is ready for commands.
    virtual bool init() = 0;
    // Sends one report (report id first); the count written, negative on failure.
    virtual ssize_t writeData(const std::vector<uint8_t>& data) = 0;
    // Appends what the device sent within the time-out; the count appended.
    virtual ssize_t readData(std::vector<uint8_t>& data, unsigned int timeoutMs) = 0;
    // The 32-bit reply value at the word index of a received reply, ORed into
    // value; false when the reply holds no such value.
    virtual bool getDataFromBuffer(const std::vector<uint8_t>& buffer, unsigned int index,
                                   uint32_t& value) = 0;
    // Returns once what was written has left the host, waiting at most a bound
    // of the transport's own; false when it has not left by then. A transport
    // whose writes return only once sent has nothing to wait for.
    virtual bool waitUntilSent() { return true; }

protected:
    SDPLoader_Interface() = default;
    SDPLoader_Interface(const SDPLoader_Interface&) = delete;
    SDPLoader_Interface& operator=(const SDPLoader_Interface&) = delete;
};

#endif
