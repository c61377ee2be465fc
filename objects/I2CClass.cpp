#include "I2CClass.h"

#include <algorithm>
#include <cstring>

#include "DeviceError.h"

namespace Zorventa {
namespace Morvasset {

namespace {

constexpr std::uint8_t kReadBit = 0x01;
// The bus address that stands for the pull-up switch.
constexpr std::uint8_t kPullupAddress = 1;
constexpr std::uint8_t kStatusError = 0x80;
constexpr std::uint8_t kStatusCodeMask = 0x7F;
// [8, index, address, count, status]
constexpr std::uint8_t kReplyHeader = 5;

}  // namespace

aErr I2CClass::init(Module* module, std::uint8_t index)
{
    m_speed = 0;
    return EntityClass::init(module, kCommand, index);
}

aErr I2CClass::setSpeed(std::uint8_t speed)
{
    if (speed > kMaxSpeed)
        return aErrParam;
    m_speed = speed;
    return aErrNone;
}

aErr I2CClass::getSpeed(std::uint8_t* speed)
{
    if (speed == nullptr)
        return aErrParam;
    *speed = m_speed;
    return aErrNone;
}

aErr I2CClass::transfer(const std::uint8_t* request, std::uint8_t requestLength, const std::uint8_t* prefix,
                        std::uint8_t prefixLength, std::uint8_t* length, std::uint8_t* reply)
{
    aErr err = exchangePacket(kCommand, requestLength, request, prefix, prefixLength, length, reply);
    if (err != aErrNone)
        return err;
    if (*length < kReplyHeader)
        return aErrPacket;
    const std::uint8_t status = reply[4];
    // An error status without a code is still an error.
    if (status & kStatusError)
        return deviceErrorResult(status & kStatusCodeMask);
    return aErrNone;
}

aErr I2CClass::read(std::uint8_t address, std::uint8_t length, std::uint8_t* data)
{
    if (length > kMaxTransfer)
        return aErrSize;
    if (data == nullptr && length != 0)
        return aErrParam;
    const std::uint8_t busAddress = static_cast<std::uint8_t>(address | kReadBit);
    const std::uint8_t request[4] = {getIndex(), busAddress, length, m_speed};
    const std::uint8_t prefix[3] = {kCommand, getIndex(), busAddress};
    std::uint8_t reply[aPACKET_MAX_DATA];
    std::uint8_t replyLength = 0;
    aErr err = transfer(request, sizeof(request), prefix, sizeof(prefix), &replyLength, reply);
    if (err != aErrNone)
        return err;
    // Never more than the module says it sent, than the caller asked for, or
    // than the packet holds.
    const std::size_t received = static_cast<std::size_t>(replyLength) - kReplyHeader;
    const std::size_t copied = std::min({static_cast<std::size_t>(reply[3]), static_cast<std::size_t>(length), received});
    if (copied != 0)
        std::memcpy(data, reply + kReplyHeader, copied);
    return aErrNone;
}

aErr I2CClass::write(std::uint8_t address, std::uint8_t length, const std::uint8_t* data)
{
    if (length > kMaxTransfer)
        return aErrSize;
    if (data == nullptr && length != 0)
        return aErrParam;
    std::uint8_t request[4 + kMaxTransfer];
    request[0] = getIndex();
    request[1] = address;
    request[2] = length;
    request[3] = m_speed;
    if (length != 0)
        std::memcpy(request + 4, data, length);
    const std::uint8_t prefix[4] = {kCommand, getIndex(), address, 0};
    std::uint8_t reply[aPACKET_MAX_DATA];
    std::uint8_t replyLength = 0;
    return transfer(request, static_cast<std::uint8_t>(4 + length), prefix, sizeof(prefix), &replyLength, reply);
}

aErr I2CClass::setPullup(bool enable)
{
    const std::uint8_t request[3] = {getIndex(), kPullupAddress, static_cast<std::uint8_t>(enable ? 1 : 0)};
    const std::uint8_t prefix[3] = {kCommand, getIndex(), kPullupAddress};
    std::uint8_t reply[aPACKET_MAX_DATA];
    std::uint8_t replyLength = 0;
    return transfer(request, sizeof(request), prefix, sizeof(prefix), &replyLength, reply);
}

}  // namespace Morvasset
}  // namespace Zorventa
