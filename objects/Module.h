// Module: one addressed module on a link. It owns its Link, keeps the module's
// bus address (adopting the module's own answer after a connection when
// networking is on) and speaks the module-level commands that belong to no
// entity: introspection (73) and the echo test (23).
#pragma once

#include <cstdint>
#include <memory>

#include "Link.h"
#include "aError.h"
#include "aLinkSpec.h"

namespace Zorventa {
namespace Morvasset {

class Module {
public:
    Module(std::uint8_t address, std::uint8_t model);
    Module(std::uint8_t address, bool networking, std::uint8_t model);
    virtual ~Module();

    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // --- Connection ---
    // aErrParam for serial number 0; otherwise discoverAndConnect.
    aErr connect(linkType type, std::uint32_t serialNumber);
    aErr discoverAndConnect(linkType type, std::uint32_t serialNumber);
    // aErrBusy while connected.
    aErr connectFromSpec(const linkSpec& spec);
    // Shares the other module's link (a module behind a routing module); this
    // module keeps the address its caller set.
    aErr connectThroughLinkModule(Module* other);
    aErr reconnect();
    bool isConnected() const;
    int getStatus() const;
    aErr disconnect();

    // --- Address, link and configuration ---
    std::uint8_t getModuleAddress() const { return m_address; }
    aErr setModuleAddress(std::uint8_t address);
    aErr setNetworkingMode(bool networking);
    Link* getLink() const { return m_link.get(); }
    aErr getLinkSpecifier(linkSpec* spec) const;
    aErr getConfig(aEtherConfig* config) const;
    aErr setConfig(aEtherConfig config);

    // --- Packet log (Link::enablePacketLog, Link::disablePacketLog) ---
    aErr enablePacketLog(const char* path);
    aErr disablePacketLog();

    // --- Introspection (command 73) ---
    // The module's answer byte: 0 when it implements the option for the access
    // the flags name (0x40 get, 0x80 set); aErrParam for other flag bits.
    aErr hasUEI(std::uint8_t command, std::uint8_t option, std::uint8_t index, std::uint8_t flags);
    aErr classQuantity(std::uint8_t entityClass, std::uint8_t* count);
    aErr subClassQuantity(std::uint8_t entityClass, std::uint8_t subClass, std::uint8_t* count);
    aErr entityGroup(std::uint8_t first, std::uint8_t second, std::uint8_t* group);
    aErr getBuild(std::uint32_t* build);

    // --- Echo test (command 23): at most 27 bytes ---
    aErr debug(const std::uint8_t* data, std::uint8_t length);

private:
    aErr _autoNetwork();
    // Sends [73, request...] and awaits a reply beginning with match.
    aErr introspect(const std::uint8_t* request, std::uint8_t requestLength, std::uint8_t matchLength,
                    std::uint8_t* replyLength, std::uint8_t* reply);
    aErr introspectByte(const std::uint8_t* request, std::uint8_t requestLength, std::uint8_t* value);

    std::unique_ptr<Link> m_link;
    std::uint8_t m_address;
    bool m_networking;
    std::uint8_t m_model;
};

}  // namespace Morvasset
}  // namespace Zorventa
