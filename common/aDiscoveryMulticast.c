/* Network-server search on this host: a server holds the first loopback
 * multicast slot whose request port it could bind, so a slot whose request
 * port cannot be bound is asked for its server's spec. */
#include <arpa/inet.h>
#include <string.h>

#include "aDebug.h"
#include "aDiscoveryInternal.h"
#include "aMulticast.h"

uint8_t _findLinkSpecs_multicast(aDiscoveryModuleFoundProc callback, void* reference,
                                 bool localOnly)
{
    const uint32_t loopback = htonl(INADDR_LOOPBACK);
    const uint32_t group = htonl(aMULTICAST_GROUP);
    const unsigned char request[4] = {
        aMULTICAST_REQUEST_WORD & 0xFFu, (aMULTICAST_REQUEST_WORD >> 8) & 0xFFu,
        (aMULTICAST_REQUEST_WORD >> 16) & 0xFFu, (aMULTICAST_REQUEST_WORD >> 24) & 0xFFu};
    aDiscoverySeen seen;
    seen.count = 0;
    unsigned char buffer[sizeof(linkSpec)];
    uint8_t found = 0;
    int goOn = 1;

    for (uint32_t slot = 0; slot < aMULTICAST_SLOTS && goOn; ++slot) {
        uint16_t requestPort = (uint16_t)(aMULTICAST_REQUEST_PORT + slot);
        uint16_t replyPort = (uint16_t)(aMULTICAST_REPLY_PORT + slot);
        aMulticast* probe = aMulticast_Create(loopback, group, requestPort, 0);
        if (probe) {
            aMulticast_Destroy(&probe);
            continue;
        }

        aMulticast* receiver = aMulticast_Create(loopback, group, replyPort, 0);
        aMulticast* sender = receiver ? aMulticast_Create(loopback, group, requestPort, 1) : NULL;
        if (sender && aMulticast_Send(sender, request, sizeof(request)) == (int)sizeof(request)) {
            memset(buffer, 0, sizeof(buffer));
            int got = aMulticast_Receive(receiver, buffer, sizeof(buffer));
            if (got == (int)sizeof(linkSpec)) {
                linkSpec raw;
                memcpy(&raw, buffer, sizeof(raw));
                aDEBUG_TRACE(aDEBUG_DISCOVERY,
                             "Got NEW linkSpec(multicast: SN: 0x%08X - Port: %d - Address: %d - Type: %d\n",
                             raw.serialNumber, (int)raw.port, (int)raw.ipAddress, raw.type);
                linkSpec spec;
                if (aDiscovery_TakeServerSpec(buffer, (size_t)got, &spec) &&
                    !aDiscoverySeen_Contains(&seen, spec.serialNumber)) {
                    if (localOnly && spec.ipAddress != loopback) {
                        aDEBUG_TRACE(aDEBUG_DISCOVERY, "We are in local mode, ignoring(2)");
                    } else {
                        aDiscoverySeen_Add(&seen, spec.serialNumber);
                        bool accepted = false;
                        goOn = callback(&spec, &accepted, reference) == 1;
                        if (accepted)
                            found = aDiscovery_CountUp(found);
                    }
                }
            } else if (got != aMULTICAST_ERR_SOCKET) {
                aDEBUG_TRACE(aDEBUG_DISCOVERY, "Unknown Error sending request message: %d\n", got);
            }
        }
        aMulticast_Destroy(&sender);
        aMulticast_Destroy(&receiver);
    }
    return found;
}
