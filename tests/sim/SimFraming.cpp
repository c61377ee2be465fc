#include "SimFraming.h"

namespace morvsim {

Bytes encodePacket(std::uint8_t address, const Bytes& data)
{
    if (data.size() > kMaxDataBytes)
        return {};
    Bytes out;
    out.reserve(data.size() + 2);
    out.push_back(address);
    out.push_back(static_cast<std::uint8_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

bool isHostAddressByte(std::uint8_t byte)
{
    if (byte == kSyncByte || byte == kForceRouteByte)
        return true;
    return byte != 0 && (byte & 1) == 0;
}

HostFramer::Result HostFramer::feed(std::uint8_t byte, Frame& out)
{
    switch (state_) {
    case State::Address:
        if (!isHostAddressByte(byte))
            return Result::BadAddress;
        address_ = byte;
        state_ = State::Length;
        return Result::NeedMore;
    case State::Length:
        if (byte > kMaxDataBytes) {
            reset();
            return Result::BadLength;
        }
        length_ = byte;
        data_.clear();
        if (length_ == 0)
            break;
        state_ = State::Data;
        return Result::NeedMore;
    case State::Data:
        data_.push_back(byte);
        if (data_.size() < length_)
            return Result::NeedMore;
        break;
    }
    out.address = address_;
    out.data.swap(data_);
    reset();
    return Result::Complete;
}

void HostFramer::reset()
{
    state_ = State::Address;
    address_ = 0;
    length_ = 0;
    data_.clear();
}

}  // namespace morvsim
