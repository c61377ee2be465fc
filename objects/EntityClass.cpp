#include "EntityClass.h"

#include <utility>

#include "DeviceError.h"
#include "LinkExchange.h"
#include "Module.h"
#include "aReplyWait.h"
#include "aUEI.h"

namespace Zorventa {
namespace Morvasset {

struct EntityClass::impl {
    explicit impl(EntityClass& owner) : entity(owner) {}

    EntityClass& entity;
    Module* module = nullptr;
    std::uint8_t command = 0;
    std::uint8_t index = 0;
};

namespace {

// The scalar a reply (or a request) carries, by its value type.
bool scalarValue(const uei& record, std::uint32_t* value)
{
    switch (record.type) {
    case ueiTypeByte: *value = record.v.byteVal; return true;
    case ueiTypeShort: *value = record.v.shortVal; return true;
    case ueiTypeInt: *value = record.v.intVal; return true;
    default: return false;
    }
}

// The result a reply gives: the device's code after an error reply (never
// success, even when the device sent code 0), else what the Link's filter
// found wrong with its shape.
aErr replyResult(const uei& reply)
{
    if (reply.specifier & ueiSpecifierError)
        return deviceErrorResult(reply.error);
    return reply.error != 0 ? deviceErrorResult(reply.error) : aErrNone;
}

// What an entity request's replies look like: its turn on the link.
ReplyPattern replies(std::uint8_t address, std::uint8_t command, std::uint8_t replyOption, std::uint8_t index)
{
    return ReplyPattern::entity(address, command, replyOption, index);
}

std::uint8_t requestSpecifier(std::uint8_t index)
{
    return static_cast<std::uint8_t>((index & ueiSpecifierIndexMask) | ueiSpecifierRequest);
}

// Addresses a request to one entity; the option carries the get or set bit.
void addressRequest(uei* request, std::uint8_t address, std::uint8_t command, std::uint8_t option,
                    std::uint8_t index)
{
    request->module = address;
    request->command = command;
    request->option = option;
    request->specifier = requestSpecifier(index);
    request->error = 0;
}

}  // namespace

EntityClass::EntityClass() : m_impl(new impl(*this)) {}

EntityClass::~EntityClass()
{
    delete m_impl;
}

aErr EntityClass::init(Module* module, std::uint8_t command, std::uint8_t index)
{
    m_impl->module = module;
    m_impl->command = command;
    m_impl->index = index;
    return index > kMaxIndex ? aErrIndexRange : aErrNone;
}

std::uint8_t EntityClass::getIndex() const
{
    return m_impl->index;
}

aErr EntityClass::boundLink(Link** link, bool checkIndex) const
{
    *link = nullptr;
    if (m_impl->module == nullptr || m_impl->module->getLink() == nullptr)
        return aErrResource;
    // A larger index would spill into the request, stream and error bits of
    // the specifier and reach another entity.
    if (checkIndex && m_impl->index > kMaxIndex)
        return aErrIndexRange;
    *link = m_impl->module->getLink();
    return aErrNone;
}

// ---------------------------------------------------------------- raw packets

aErr EntityClass::sendPacket(std::uint8_t command, std::uint8_t length, const std::uint8_t* data)
{
    Link* link = nullptr;
    aErr err = boundLink(&link, false);
    if (err != aErrNone)
        return err;
    return link->sendPacket(m_impl->module->getModuleAddress(), command, length, data);
}

aErr EntityClass::receivePacket(const std::uint8_t* match, std::uint8_t* length, std::uint8_t* data)
{
    Link* link = nullptr;
    aErr err = boundLink(&link, false);
    if (err != aErrNone)
        return err;
    return link->receivePacket(m_impl->module->getModuleAddress(), match, length, data);
}

aErr EntityClass::exchangePacket(std::uint8_t command, std::uint8_t length, const std::uint8_t* data,
                                 const std::uint8_t* match, std::uint8_t matchLength, std::uint8_t* replyLength,
                                 std::uint8_t* reply)
{
    Link* link = nullptr;
    aErr err = boundLink(&link, false);
    if (err != aErrNone)
        return err;
    return Morvasset::exchangePacket(*link, m_impl->module->getModuleAddress(), command, length, data, match,
                                     matchLength, replyLength, reply);
}

aErr EntityClass::awaitPacket(const std::uint8_t* match, std::uint8_t matchLength, std::uint8_t* replyLength,
                              std::uint8_t* reply)
{
    Link* link = nullptr;
    aErr err = boundLink(&link, false);
    if (err != aErrNone)
        return err;
    return Morvasset::awaitPacket(*link, m_impl->module->getModuleAddress(), match, matchLength, replyLength, reply);
}

// ---------------------------------------------------------------- general operations

aErr EntityClass::getUEI(std::uint8_t option, uei* value)
{
    if (value == nullptr)
        return aErrParam;
    Link* link = nullptr;
    aErr err = boundLink(&link, true);
    if (err != aErrNone)
        return err;
    const std::uint8_t address = m_impl->module->getModuleAddress();
    const std::uint8_t subindex = value->type == ueiTypeByte ? value->v.byteVal : 0;

    std::uint32_t cached = 0;
    err = link->getStreamValue(address, m_impl->command, option, m_impl->index, subindex, &cached);
    if (err != aErrNotFound) {
        if (err == aErrNone || err == aErrStreamStale) {
            value->v.intVal = cached;
            value->type = ueiTypeInt;
        }
        return err;
    }

    addressRequest(value, address, m_impl->command, static_cast<std::uint8_t>(option | ueiOptionGet),
                   m_impl->index);
    LinkExchange exchange(*link, replies(address, m_impl->command, option, m_impl->index), aREPLY_WAIT_MS);
    if (exchange.status() != aErrNone)
        return exchange.status();
    err = exchange.sendUEI(*value);
    if (err != aErrNone)
        return err;

    // What the reply fills in; a reply without a value leaves type void.
    value->option = option;
    value->specifier = m_impl->index;
    value->v.intVal = 0;
    value->type = ueiTypeVoid;
    err = exchange.receiveUEI(value, aREPLY_WAIT_MS);
    if (err != aErrNone)
        return err;
    return replyResult(*value);
}

aErr EntityClass::setUEI(std::uint8_t option, uei* value)
{
    return setRecord(option, nullptr, value);
}

aErr EntityClass::setUEI(std::uint8_t option, std::uint8_t subindex, uei* value)
{
    return setRecord(option, &subindex, value);
}

aErr EntityClass::setRecord(std::uint8_t option, const std::uint8_t* subindex, uei* value)
{
    if (value == nullptr)
        return aErrParam;
    Link* link = nullptr;
    aErr err = boundLink(&link, true);
    if (err != aErrNone)
        return err;
    const std::uint8_t address = m_impl->module->getModuleAddress();
    addressRequest(value, address, m_impl->command, static_cast<std::uint8_t>(option | ueiOptionSet),
                   m_impl->index);
    const auto replyOption = static_cast<std::uint8_t>(option | ueiOptionSetReply);
    // A large buffer's reply comes later; the wait starts once it is sent.
    const std::uint64_t timeout = aReply_WaitForBytes(value->type == ueiTypeBytes ? value->count : 0);
    LinkExchange exchange(*link, replies(address, m_impl->command, replyOption, m_impl->index), timeout);
    if (exchange.status() != aErrNone)
        return exchange.status();
    err = subindex ? exchange.sendUEI(*value, *subindex) : exchange.sendUEI(*value);
    if (err != aErrNone)
        return err;
    value->option = replyOption;
    value->specifier = m_impl->index;
    err = exchange.receiveUEI(value, timeout);
    if (err != aErrNone)
        return err;
    return replyResult(*value);
}

aErr EntityClass::callUEI(std::uint8_t option)
{
    uei value;
    value.type = ueiTypeVoid;
    return setUEI(option, &value);
}

// ---------------------------------------------------------------- typed getters and setters

aErr EntityClass::getScalar(std::uint8_t option, bool hasSubindex, std::uint8_t subindex, std::uint32_t* value)
{
    uei record;
    if (hasSubindex) {
        record.type = ueiTypeByte;
        record.v.byteVal = subindex;
    }
    aErr err = getUEI(option, &record);
    if (err != aErrNone && err != aErrStreamStale)
        return err;
    // A reply with no value (or an unknown shape) is no answer to a get.
    if (!scalarValue(record, value))
        return aErrPacket;
    return err;
}

template <typename T>
aErr EntityClass::getScalarAs(std::uint8_t option, bool hasSubindex, std::uint8_t subindex, T* value)
{
    if (value == nullptr)
        return aErrParam;
    std::uint32_t word = 0;
    aErr err = getScalar(option, hasSubindex, subindex, &word);
    if (err == aErrNone || err == aErrStreamStale)
        *value = static_cast<T>(word);
    return err;
}

aErr EntityClass::getUEI8(std::uint8_t option, std::uint8_t* value)
{
    return getScalarAs(option, false, 0, value);
}

aErr EntityClass::getUEI8(std::uint8_t option, std::uint8_t subindex, std::uint8_t* value)
{
    return getScalarAs(option, true, subindex, value);
}

aErr EntityClass::getUEI16(std::uint8_t option, std::uint16_t* value)
{
    return getScalarAs(option, false, 0, value);
}

aErr EntityClass::getUEI16(std::uint8_t option, std::uint8_t subindex, std::uint16_t* value)
{
    return getScalarAs(option, true, subindex, value);
}

aErr EntityClass::getUEI32(std::uint8_t option, std::uint32_t* value)
{
    return getScalarAs(option, false, 0, value);
}

aErr EntityClass::getUEI32(std::uint8_t option, std::uint8_t subindex, std::uint32_t* value)
{
    return getScalarAs(option, true, subindex, value);
}

aErr EntityClass::setScalar(std::uint8_t option, bool hasSubindex, std::uint8_t subindex, int type,
                            std::uint32_t value)
{
    uei record;
    record.type = type;
    switch (type) {
    case ueiTypeByte: record.v.byteVal = static_cast<std::uint8_t>(value); break;
    case ueiTypeShort: record.v.shortVal = static_cast<std::uint16_t>(value); break;
    default: record.v.intVal = value; break;
    }
    return hasSubindex ? setUEI(option, subindex, &record) : setUEI(option, &record);
}

aErr EntityClass::setUEI8(std::uint8_t option, std::uint8_t value)
{
    return setScalar(option, false, 0, ueiTypeByte, value);
}

aErr EntityClass::setUEI8(std::uint8_t option, std::uint8_t subindex, std::uint8_t value)
{
    return setScalar(option, true, subindex, ueiTypeByte, value);
}

aErr EntityClass::setUEI16(std::uint8_t option, std::uint16_t value)
{
    return setScalar(option, false, 0, ueiTypeShort, value);
}

aErr EntityClass::setUEI16(std::uint8_t option, std::uint8_t subindex, std::uint16_t value)
{
    return setScalar(option, true, subindex, ueiTypeShort, value);
}

aErr EntityClass::setUEI32(std::uint8_t option, std::uint32_t value)
{
    return setScalar(option, false, 0, ueiTypeInt, value);
}

aErr EntityClass::setUEI32(std::uint8_t option, std::uint8_t subindex, std::uint32_t value)
{
    return setScalar(option, true, subindex, ueiTypeInt, value);
}

aErr EntityClass::setUEIBytes(std::uint8_t option, const std::uint8_t* data, std::size_t length)
{
    if (data == nullptr && length != 0)
        return aErrParam;
    // The Link reads the buffer and never writes through the pointer.
    static std::uint8_t empty[1] = {0};
    uei record;
    record.type = ueiTypeBytes;
    record.v.bufPtr = data ? const_cast<std::uint8_t*>(data) : empty;
    record.count = length;
    return setUEI(option, &record);
}

// ---------------------------------------------------------------- byte buffers

aErr EntityClass::getUEIBytes(std::uint8_t option, std::uint8_t* buffer, std::size_t capacity, std::size_t* count)
{
    if (buffer == nullptr || count == nullptr || capacity == 0)
        return aErrParam;
    *count = 0;
    Link* link = nullptr;
    aErr err = boundLink(&link, true);
    if (err != aErrNone)
        return err;
    const std::uint8_t address = m_impl->module->getModuleAddress();

    uei request;
    addressRequest(&request, address, m_impl->command, static_cast<std::uint8_t>(option | ueiOptionGet),
                   m_impl->index);
    request.type = ueiTypeVoid;
    LinkExchange exchange(*link, replies(address, m_impl->command, option, m_impl->index), aREPLY_WAIT_MS);
    if (exchange.status() != aErrNone)
        return exchange.status();
    err = exchange.sendUEI(request);
    if (err != aErrNone)
        return err;

    uei record;
    record.module = address;
    record.command = m_impl->command;
    record.option = option;
    record.specifier = m_impl->index;
    record.v.bufPtr = buffer;
    record.sequence = 0;
    record.continued = 0;
    record.count = capacity;
    record.received = count;
    record.type = ueiTypeVoid;
    // Once the reply does not fit, the rest of it is still taken (and thrown
    // away), so that none of it is left to be taken by the next get.
    bool cut = false;
    for (;;) {
        err = exchange.receiveUEI(&record, sUEIBytesFilter, aREPLY_WAIT_MS);
        if (err == aErrNone && (record.specifier & ueiSpecifierError))
            err = replyResult(record);
        else if (err == aErrNone && record.error == aErrMemory && !cut) {
            cut = true;
            // No room for anything more: the filter stores nothing from now on.
            record.count = *count;
        } else if (err == aErrNone && record.error != aErrMemory)
            err = replyResult(record);
        if (err != aErrNone)
            return cut ? aErrMemory : err;
        if (!record.continued)
            return cut ? aErrMemory : aErrNone;
        record.sequence = static_cast<std::uint8_t>((record.sequence + 1) & ueiBytesSequenceMask);
    }
}

aErr EntityClass::getUEIBytesCheck(std::size_t* count, std::size_t elementSize)
{
    if (count == nullptr)
        return aErrParam;
    if (elementSize == 0)
        return *count == 0 ? aErrNone : aErrMemory;
    if (*count % elementSize != 0)
        return aErrMemory;
    *count /= elementSize;
    return aErrNone;
}

std::uint8_t EntityClass::getUEIBytesSequence(const aPacket* packet)
{
    return aUEI_getBytesSequence(packet);
}

std::uint8_t EntityClass::getUEIBytesContinue(const aPacket* packet)
{
    return aUEI_getBytesContinue(packet) ? 1 : 0;
}

// ---------------------------------------------------------------- waiting and draining

aErr EntityClass::awaitUEI32Val(std::uint32_t option, std::uint32_t* value, std::uint32_t)
{
    if (value == nullptr)
        return aErrParam;
    Link* link = nullptr;
    aErr err = boundLink(&link, true);
    if (err != aErrNone)
        return err;
    const std::uint8_t address = m_impl->module->getModuleAddress();
    uei record;
    record.module = address;
    record.command = m_impl->command;
    record.option = static_cast<std::uint8_t>(option);
    record.specifier = m_impl->index;
    record.type = ueiTypeVoid;
    LinkExchange exchange(*link, replies(address, m_impl->command, record.option, m_impl->index), aREPLY_WAIT_MS,
                          LinkExchange::Kind::Await);
    if (exchange.status() != aErrNone)
        return exchange.status();
    err = exchange.receiveUEI(&record, aREPLY_WAIT_MS);
    if (err != aErrNone)
        return err;
    err = replyResult(record);
    if (err != aErrNone)
        return err;
    std::uint32_t word = 0;
    if (!scalarValue(record, &word))
        return aErrPacket;
    *value = word;
    return aErrNone;
}

aErr EntityClass::drainUEI(std::uint8_t option)
{
    Link* link = nullptr;
    aErr err = boundLink(&link, true);
    if (err != aErrNone)
        return err;
    const std::uint8_t address = m_impl->module->getModuleAddress();
    // Not while an exchange that could take those replies waits for one.
    LinkExchange turn(*link, replies(address, m_impl->command, option, m_impl->index), aREPLY_WAIT_MS,
                      LinkExchange::Kind::TurnOnly);
    if (turn.status() != aErrNone)
        return turn.status();
    return link->dropMatchingUEIPackets(address, m_impl->command, option, m_impl->index);
}

// ---------------------------------------------------------------- streams

aErr EntityClass::setStreamEnabled(std::uint8_t enable)
{
    Link* link = nullptr;
    aErr err = boundLink(&link, true);
    if (err != aErrNone)
        return err;
    return link->enableStream(m_impl->module->getModuleAddress(), m_impl->command, Link::STREAM_WILDCARD,
                              m_impl->index, enable != 0);
}

aErr EntityClass::registerOptionCallback(std::uint8_t option, bool enable, streamCallback_t callback,
                                         void* reference)
{
    Link* link = nullptr;
    aErr err = boundLink(&link, true);
    if (err != aErrNone)
        return err;
    return link->registerStreamCallback(m_impl->module->getModuleAddress(), m_impl->command, option,
                                        m_impl->index, enable, std::move(callback), reference);
}

aErr EntityClass::getStreamStatus(Link::StreamStatusEntry* rows, std::size_t capacity, std::size_t* count)
{
    Link* link = nullptr;
    aErr err = boundLink(&link, true);
    if (err != aErrNone)
        return err;
    return link->getStreamStatus(m_impl->module->getModuleAddress(), m_impl->command, Link::STREAM_WILDCARD,
                                 m_impl->index, Link::STREAM_WILDCARD, rows, capacity, count);
}

}  // namespace Morvasset
}  // namespace Zorventa
