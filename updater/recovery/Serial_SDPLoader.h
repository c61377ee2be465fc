// Serial download transport over a serial tty (115200 baud, 8N1, raw).
#ifndef UPDATER_RECOVERY_SERIAL_SDPLOADER_H
#define UPDATER_RECOVERY_SERIAL_SDPLOADER_H

#include "SDPLoader_Interface.h"

#include <memory>
#include <string>

struct PrivateSerial_SDPLoader;

class Serial_SDPLoader : public SDPLoader_Interface {
public:
    // How long a port that takes no byte is retried before a write fails.
    static constexpr unsigned int WRITE_STALL_LIMIT_MS = 1000;
    // A port that never stops sending must not hold a read forever.
    static constexpr size_t MAX_READ_BYTES = 65536;

    explicit Serial_SDPLoader(const std::string& path);
    ~Serial_SDPLoader() override;

    bool init() override;
    // The report id is not sent; the count of bytes written, -1 when not all
    // of them could be.
    ssize_t writeData(const std::vector<uint8_t>& data) override;
    ssize_t readData(std::vector<uint8_t>& data, unsigned int timeoutMs) override;
    bool getDataFromBuffer(const std::vector<uint8_t>& buffer, unsigned int index,
                           uint32_t& value) override;
    // Waits until the port's output queue is empty, at most the line time of
    // what it held plus DRAIN_MARGIN_MS; false when it is not empty by then or
    // the port cannot tell.
    bool waitUntilSent() override;

    static constexpr unsigned int LINE_BAUD = 115200;
    static constexpr unsigned int DRAIN_MARGIN_MS = 500;

private:
    std::unique_ptr<PrivateSerial_SDPLoader> p_;
};

#endif
