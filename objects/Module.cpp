#include "Module.h"

#include <algorithm>
#include <cstring>

#include "DeviceError.h"
#include "LinkExchange.h"
#include "aDebug.h"
#include "aTime.h"

namespace Zorventa {
namespace Morvasset {

namespace {

constexpr std::uint8_t kIntrospectionCommand = 73;
constexpr std::uint8_t kEchoCommand = 23;

constexpr std::uint8_t kIntroHasUEI = 1;
constexpr std::uint8_t kIntroClassQuantity = 4;
constexpr std::uint8_t kIntroSubClassQuantity = 5;
constexpr std::uint8_t kIntroEntityGroup = 6;
constexpr std::uint8_t kIntroBuild = 0xFF;

// Data bytes a raw packet carries after its command byte.
constexpr std::uint8_t kMaxRawBytes = aPACKET_MAX_DATA - 1;

constexpr int kAddressTries = 4;
constexpr std::uint32_t kAddressRetryMs = 5;

bool usableAddress(std::uint8_t address)
{
    return address != 0 && (address & 1) == 0;
}

}  // namespace

Module::Module(std::uint8_t address, std::uint8_t model) : Module(address, true, model) {}

Module::Module(std::uint8_t address, bool networking, std::uint8_t model)
    : m_link(new Link("Link")), m_address(address), m_networking(networking), m_model(model)
{
}

Module::~Module() = default;

// ---------------------------------------------------------------- connection

aErr Module::connect(linkType type, std::uint32_t serialNumber)
{
    if (serialNumber == 0)
        return aErrParam;
    return discoverAndConnect(type, serialNumber);
}

aErr Module::discoverAndConnect(linkType type, std::uint32_t serialNumber)
{
    if (!m_link)
        return aErrInitialization;
    aErr err = m_link->discoverAndConnect(type, serialNumber, m_model);
    if (err != aErrNone)
        return err;
    return _autoNetwork();
}

aErr Module::connectFromSpec(const linkSpec& spec)
{
    if (!m_link)
        return aErrInitialization;
    if (m_link->isConnected())
        return aErrBusy;
    aErr err = m_link->setLinkSpecifier(spec);
    if (err != aErrNone)
        return err;
    err = m_link->connect();
    if (err != aErrNone)
        return err;
    return _autoNetwork();
}

aErr Module::connectThroughLinkModule(Module* other)
{
    if (!m_link)
        return aErrInitialization;
    if (m_link->isConnected())
        return aErrNone;
    if (other == nullptr || other == this)
        return aErrParam;

    linkSpec spec;
    std::memset(&spec, 0, sizeof(spec));
    aErr err = other->getLinkSpecifier(&spec);
    if (other->getLink() == nullptr)
        return aErrInitialization;
    if (err != aErrNone)
        return err;

    aEtherConfig config;
    err = other->getConfig(&config);
    if (err == aErrNone)
        err = setConfig(config);
    if (err != aErrNone)
        return err;

    if (config.enabled) {
        // Reach the local server the other link created, as its client.
        spec.type = linkTypeAEther;
        spec.ipAddress = config.networkInterface;
        std::memset(spec.path, 0, sizeof(spec.path));
        spec.port = config.port;
    }

    err = m_link->setLinkSpecifier(spec);
    if (err == aErrNone)
        err = m_link->connectThroughLinkModule(*other->getLink());
    if (err == aErrNone)
        m_networking = false;
    return err;
}

aErr Module::reconnect()
{
    if (!m_link)
        return aErrInitialization;
    aErr err = m_link->connect();
    if (err != aErrNone)
        return err;
    return _autoNetwork();
}

bool Module::isConnected() const
{
    return m_link && m_link->isConnected();
}

int Module::getStatus() const
{
    if (!m_link)
        return 8;
    return m_link->getStatus();
}

aErr Module::disconnect()
{
    if (!m_link)
        return aErrInitialization;
    return m_link->disconnect();
}

aErr Module::_autoNetwork()
{
    if (!m_networking || !m_link)
        return aErrNone;

    std::uint8_t address = 0;
    aErr err = aErrNotReady;
    for (int attempt = 0; attempt < kAddressTries && err == aErrNotReady; ++attempt) {
        err = m_link->getModuleAddress(&address);
        if (err != aErrNone)
            aTime_MSSleep(kAddressRetryMs);
    }
    if (err != aErrNone) {
        aDEBUG_TRACE(aDEBUG_MODULE, "BOO! Failed to autoNetwork");
        return err;
    }
    // An odd or zero answer is no address packets could be sent to.
    if (usableAddress(address) && address != m_address)
        m_address = address;
    return aErrNone;
}

// ---------------------------------------------------------------- accessors

aErr Module::setModuleAddress(std::uint8_t address)
{
    m_address = address;
    return aErrNone;
}

aErr Module::setNetworkingMode(bool networking)
{
    m_networking = networking;
    return aErrNone;
}

aErr Module::getLinkSpecifier(linkSpec* spec) const
{
    if (!m_link)
        return aErrNotReady;
    if (spec == nullptr)
        return aErrParam;
    return m_link->getLinkSpecifier(spec);
}

aErr Module::getConfig(aEtherConfig* config) const
{
    if (config == nullptr)
        return aErrParam;
    if (!m_link)
        return aErrNotReady;
    return m_link->getConfig(config);
}

aErr Module::setConfig(aEtherConfig config)
{
    if (!m_link)
        return aErrNotReady;
    return m_link->setConfig(config);
}

// ---------------------------------------------------------------- introspection

aErr Module::introspect(const std::uint8_t* request, std::uint8_t requestLength, std::uint8_t matchLength,
                        std::uint8_t* replyLength, std::uint8_t* reply)
{
    if (!isConnected())
        return aErrConnection;
    const std::uint8_t match[2] = {kIntrospectionCommand, request[0]};
    return exchangePacket(*m_link, m_address, kIntrospectionCommand, requestLength, request, match, matchLength,
                          replyLength, reply);
}

aErr Module::hasUEI(std::uint8_t command, std::uint8_t option, std::uint8_t index, std::uint8_t flags)
{
    if ((flags & 0x3F) != 0 || (flags & 0xC0) == 0xC0)
        return aErrParam;
    const std::uint8_t request[5] = {kIntroHasUEI, command, option, index, flags};
    std::uint8_t reply[aPACKET_MAX_DATA];
    std::uint8_t length = 0;
    aErr err = introspect(request, sizeof(request), 1, &length, reply);
    if (err != aErrNone)
        return err;
    if (length != 6 || reply[1] != kIntroHasUEI || reply[2] != command || reply[3] != option || reply[4] != index)
        return aErrUnknown;
    // 0: implemented; any other answer passes on as the code it is.
    return reply[5] == 0 ? aErrNone : deviceErrorResult(reply[5]);
}

// Requests whose reply echoes the request after the command and adds one
// value byte: [73, request..., value].
aErr Module::introspectByte(const std::uint8_t* request, std::uint8_t requestLength, std::uint8_t* value)
{
    if (value == nullptr)
        return aErrParam;
    *value = 0;
    std::uint8_t reply[aPACKET_MAX_DATA];
    std::uint8_t length = 0;
    aErr err = introspect(request, requestLength, 1, &length, reply);
    if (err != aErrNone)
        return err;
    if (length != requestLength + 2 || !std::equal(request, request + requestLength, reply + 1))
        return aErrUnknown;
    *value = reply[requestLength + 1];
    return aErrNone;
}

aErr Module::classQuantity(std::uint8_t entityClass, std::uint8_t* count)
{
    const std::uint8_t request[] = {kIntroClassQuantity, entityClass};
    return introspectByte(request, sizeof(request), count);
}

aErr Module::subClassQuantity(std::uint8_t entityClass, std::uint8_t subClass, std::uint8_t* count)
{
    const std::uint8_t request[] = {kIntroSubClassQuantity, entityClass, subClass};
    return introspectByte(request, sizeof(request), count);
}

aErr Module::entityGroup(std::uint8_t first, std::uint8_t second, std::uint8_t* group)
{
    const std::uint8_t request[] = {kIntroEntityGroup, first, second};
    return introspectByte(request, sizeof(request), group);
}

aErr Module::getBuild(std::uint32_t* build)
{
    if (build == nullptr)
        return aErrParam;
    if (!m_link)
        return aErrInitialization;
    const std::uint8_t request[1] = {kIntroBuild};
    std::uint8_t reply[aPACKET_MAX_DATA];
    std::uint8_t length = 0;
    aErr err = introspect(request, sizeof(request), 2, &length, reply);
    if (err != aErrNone)
        return err;
    if (length != 6)
        return aErrSize;
    *build = (static_cast<std::uint32_t>(reply[2]) << 24) | (static_cast<std::uint32_t>(reply[3]) << 16) |
             (static_cast<std::uint32_t>(reply[4]) << 8) | static_cast<std::uint32_t>(reply[5]);
    return aErrNone;
}

// ---------------------------------------------------------------- echo

aErr Module::debug(const std::uint8_t* data, std::uint8_t length)
{
    if (!isConnected())
        return aErrConnection;
    if (length > kMaxRawBytes || (data == nullptr && length != 0))
        return aErrParam;
    static const std::uint8_t kNothing[1] = {0};
    const std::uint8_t* payload = data ? data : kNothing;
    const std::uint8_t match[1] = {kEchoCommand};
    std::uint8_t reply[aPACKET_MAX_DATA];
    std::uint8_t replyLength = 0;
    const aErr err =
        exchangePacket(*m_link, m_address, kEchoCommand, length, payload, match, sizeof(match), &replyLength, reply);
    if (err != aErrNone)
        return err;
    if (replyLength != length + 1 || std::memcmp(reply + 1, payload, length) != 0)
        return aErrIO;
    return aErrNone;
}

}  // namespace Morvasset
}  // namespace Zorventa
