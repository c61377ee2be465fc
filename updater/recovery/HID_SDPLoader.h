// Serial download transport over the boot ROM's USB HID device (hidapi).
#ifndef UPDATER_RECOVERY_HID_SDPLOADER_H
#define UPDATER_RECOVERY_HID_SDPLOADER_H

#include "SDPLoader_Interface.h"

#include <cstdint>

struct hid_device_;

class HID_SDPLoader : public SDPLoader_Interface {
public:
    static constexpr uint16_t NXP_VENDOR_ID = 0x1FC9;
    static constexpr uint16_t NXP_PRODUCT_ID = 0x0130;
    // A reply is one status report (id 3, 4 bytes) and one data report (id 4, 64 bytes).
    static constexpr size_t REPORT_SIZE = 65;
    static constexpr size_t STATUS_REPORT_KEPT = 5;
    static constexpr size_t REPLY_SIZE = STATUS_REPORT_KEPT + REPORT_SIZE;
    // A device that never stops sending must not hold a read forever.
    static constexpr int MAX_REPORTS_PER_READ = 64;

    HID_SDPLoader(uint16_t vendorId, uint16_t productId);
    ~HID_SDPLoader() override;

    bool init() override;
    ssize_t writeData(const std::vector<uint8_t>& data) override;
    ssize_t readData(std::vector<uint8_t>& data, unsigned int timeoutMs) override;
    bool getDataFromBuffer(const std::vector<uint8_t>& buffer, unsigned int index,
                           uint32_t& value) override;

private:
    struct hid_device_* handle_ = nullptr;
    uint16_t vendorId_;
    uint16_t productId_;
    bool hidInitialised_ = false;
};

#endif
