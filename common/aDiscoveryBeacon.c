/* Network-server search on one network interface: publish the discovery
 * tag with a CZMQ beacon and collect the specs servers beacon back. */
#include <czmq.h>
#include <string.h>

#include "aDebug.h"
#include "aDiscoveryInternal.h"
#include "aTime.h"
#include "aZeroMQ.h"
#include "zBeaconInterface.h"

/* The longest the search waits for its beacon to stop. */
#define sBEACON_STOP_MS 2000u

uint8_t _findLinkSpecs_beacon(aDiscoveryModuleFoundProc callback, void* reference,
                              const char* interfaceText)
{
    aDEBUG_TRACE(aDEBUG_DISCOVERY, "New Interface: %s\n", interfaceText);
    /* Held for the whole search: the interface is read by the actor, and
     * other threads' beacons must not change it meanwhile. */
    if (!zBeaconInterface_backupSetAndLock(interfaceText))
        return 0;

    uint8_t found = 0;
    aDiscoverySeen seen;
    seen.count = 0;
    aZeroMQ_Start();
    zactor_t* beacon = zactor_new(zbeacon, NULL);
    if (!beacon)
        goto restore;
    /* Requests to the beacon never wait. */
    zsock_set_sndtimeo(beacon, 0);

    zsock_send(beacon, "si", "CONFIGURE", DISCOVERY_BEACON_PORT);
    char* hostname = zstr_recv(beacon);
    aDEBUG_TRACE(aDEBUG_DISCOVERY, "Beacon hostname(_findLinkSpecs_beacon): %s - Port: %d\n",
                 hostname ? hostname : "", DISCOVERY_BEACON_PORT);
    /* An empty host name: no interface the beacon can broadcast on. */
    int usable = hostname && hostname[0] != '\0';
    zstr_free(&hostname);
    if (!usable)
        goto destroy;

    zsock_send(beacon, "sbi", "PUBLISH", DISCOVERY_BEACON_FILTER,
               (size_t)DISCOVERY_BEACON_FILTER_SIZE, 100);
    zsock_send(beacon, "sb", "SUBSCRIBE", "", (size_t)0);
    zsock_set_rcvtimeo(beacon, aDISCOVERY_BEACON_STEP_MS);

    int goOn = 1;
    for (int step = 0; step < aDISCOVERY_BEACON_STEPS && goOn; ++step) {
        char* sender = zstr_recv(beacon);
        if (!sender)
            continue;
        zstr_free(&sender);
        zframe_t* content = zframe_recv(beacon);
        if (!content)
            continue;
        linkSpec spec;
        if (aDiscovery_TakeServerSpec(zframe_data(content), zframe_size(content), &spec) &&
            !aDiscoverySeen_Contains(&seen, spec.serialNumber)) {
            aDEBUG_TRACE(aDEBUG_DISCOVERY,
                         "Got NEW linkSpec(beacon): SN: 0x%08X - Port: %d - Address: %d - Type: %d - Model: %d\n",
                         spec.serialNumber, (int)spec.port, (int)spec.ipAddress, spec.type, spec.model);
            aDiscoverySeen_Add(&seen, spec.serialNumber);
            bool accepted = false;
            goOn = callback(&spec, &accepted, reference) == 1;
            if (accepted)
                found = aDiscovery_CountUp(found);
        }
        zframe_destroy(&content);
    }
    if (goOn)
        aDEBUG_TRACE(aDEBUG_DISCOVERY, "Done with discovery");

    zstr_sendx(beacon, "SILENCE", NULL);
    zstr_sendx(beacon, "UNSUBSCRIBE", NULL);
destroy:
    aZeroMQ_StopActor(&beacon, aTime_DeadlineAfter(sBEACON_STOP_MS));
restore:
    zBeaconInterface_restoreAndUnlock();
    return found;
}
