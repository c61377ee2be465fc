// Serial download transport over USB HID: commands and data go out as output
// reports, replies come back as input reports 3 and 4.
#include "HID_SDPLoader.h"

#include "Log.h"

#include <hidapi/hidapi.h>

#include <climits>

HID_SDPLoader::HID_SDPLoader(uint16_t vendorId, uint16_t productId)
    : vendorId_(vendorId), productId_(productId)
{
}

HID_SDPLoader::~HID_SDPLoader()
{
    if (handle_ != nullptr)
        hid_close(handle_);
    if (hidInitialised_)
        hid_exit();
}

bool HID_SDPLoader::init()
{
    if (handle_ != nullptr)
        return true;
    if (!hidInitialised_) {
        if (hid_init() != 0) {
            Log::log(DEBUG_iMXSerial, "hid_init failed\n");
            return false;
        }
        hidInitialised_ = true;
    }
    handle_ = hid_open(vendorId_, productId_, nullptr);
    Log::log(DEBUG_iMXSerial, "handle: %p\n", static_cast<void*>(handle_));
    if (handle_ == nullptr) {
        const wchar_t* reason = hid_error(nullptr);
        Log::log(DEBUG_iMXSerial, "No HID device %04X:%04X: %ls\n", vendorId_, productId_,
                 reason != nullptr ? reason : L"unknown");
        return false;
    }
    return true;
}

ssize_t HID_SDPLoader::writeData(const std::vector<uint8_t>& data)
{
    if (handle_ == nullptr || data.empty())
        return -1;
    int result = hid_write(handle_, data.data(), data.size());
    if (result < 0) {
        const wchar_t* reason = hid_error(handle_);
        Log::log(DEBUG_iMXSerial, "hid_write failed: %ls\n", reason != nullptr ? reason : L"unknown");
    }
    return result;
}

ssize_t HID_SDPLoader::readData(std::vector<uint8_t>& data, unsigned int timeoutMs)
{
    if (handle_ == nullptr)
        return 0;
    int timeout = timeoutMs > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    ssize_t appended = 0;
    for (int reports = 0; reports < MAX_REPORTS_PER_READ; ++reports) {
        unsigned char report[REPORT_SIZE] = {};
        int n = hid_read_timeout(handle_, report, sizeof(report), timeout);
        if (n <= 0)
            break;
        size_t keep = static_cast<size_t>(n) > sizeof(report) ? sizeof(report) : static_cast<size_t>(n);
        // The status report carries one word; some hosts pad it to the full size.
        if (report[0] == 3 && keep > STATUS_REPORT_KEPT)
            keep = STATUS_REPORT_KEPT;
        data.insert(data.end(), report, report + keep);
        appended += static_cast<ssize_t>(keep);
    }
    return appended;
}

bool HID_SDPLoader::getDataFromBuffer(const std::vector<uint8_t>& buffer, unsigned int index,
                                      uint32_t& value)
{
    if (buffer.size() != REPLY_SIZE || index > 15)
        return false;
    size_t at = index + 6;
    value |= static_cast<uint32_t>(buffer[at]) | static_cast<uint32_t>(buffer[at + 1]) << 8 |
             static_cast<uint32_t>(buffer[at + 2]) << 16 | static_cast<uint32_t>(buffer[at + 3]) << 24;
    return true;
}
