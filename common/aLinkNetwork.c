/* The link creators that go through the network sharing of a module. */
#include "aLinkNetwork.h"

#include <stdatomic.h>
#include <stdbool.h>
#include <stddef.h>

#include "aDebug.h"
#include "aLink.h"
#include "aLinkRegistry.h"
#include "aReplyWait.h"
#include "aServer.h"
#include "aServerInternal.h"
#include "aStreamClient.h"
#include "aTime.h"

#define sDETAIL_ATTEMPTS 5
#define sDETAIL_PAUSE_MS 10u
/* A question the module left unanswered keeps the server's sync worker
 * waiting this long; the next attempt starts only after that. */
#define sWORKER_BUSY_MS (aREPLY_WAIT_MS + aREPLY_SERVER_MARGIN_MS + 100u)

#define sSYSTEM_COMMAND 3u
#define sMODEL_OPTION 8u

static atomic_int _clientCount;

static int drainAll(const aPacket* packet, void* ref)
{
    (void)packet;
    (void)ref;
    return 1;
}

static int sFail(int id)
{
    if (id != 0) {
        aLink_Destroy(&id);
    }
    return 0;
}

int aLink_CreateClient(uint32_t address, uint16_t port, int existingId)
{
    aDEBUG_TRACE(aDEBUG_LINK, "aLink_CreateClient(%08X, %08X, %d)\n", address, port, existingId);
    if (existingId != 0) {
        int shared = aLinkRegistry_ShareByID(existingId);
        if (shared != 0) {
            aDEBUG_TRACE(aDEBUG_LINK, "Using existing link - ConnectThroughLinkModule\n");
        } else {
            aDEBUG_TRACE(aDEBUG_LINK, "The provided ref is invalid.\n");
        }
        return shared;
    }
    uint32_t number = (uint32_t)atomic_fetch_add(&_clientCount, 1);
    int id = sCreate2(address, port, number, aLINK_TYPE_CLIENT);
    aLinkEntry* entry = id != 0 ? sLookupEntryByID(id) : NULL;
    if (entry == NULL || entry->link == NULL) {
        return sFail(id);
    }
    aStream* stream = NULL;
    if (aStream_CreateClient(address, port, &stream) != aErrNone || stream == NULL) {
        return sFail(id);
    }
    if (aLink_Init(id, stream) != id || aLink_Start(id) != aErrNone) {
        return sFail(id);
    }
    sChangeUseCount(entry, 1);
    return id;
}

/* ---- Server details ---- */

static aErr sPut(int linkId, uint8_t address, uint8_t length, const uint8_t* data)
{
    static const uint8_t none = 0;
    aPacket* packet = aPacket_CreateWithData(address, length, length > 0 ? data : &none);
    if (packet == NULL) {
        return aErrMemory;
    }
    aErr err = aLink_PutPacket(linkId, packet);
    aPacket_Destroy(&packet);
    return err;
}

static aErr _aLink_GetModuleAddress(int linkId, uint8_t* address)
{
    /* What came in before the question answers nothing. */
    aLink_DrainPackets(linkId, drainAll, NULL);
    aErr err = sPut(linkId, aLINK_SYNC_ADDRESS, 0, NULL);
    if (err != aErrNone) {
        return err;
    }
    aPacket* reply = aLink_AwaitPacket(linkId, aREPLY_WAIT_MS);
    if (reply == NULL) {
        return aErrTimeout;
    }
    err = aErrIO;
    if (reply->dataSize == 0 && reply->address != 0) {
        *address = reply->address;
        err = aErrNone;
    }
    aPacket_Destroy(&reply);
    aDEBUG_TRACE(aDEBUG_LINK, "aLink_GetModuleAddress: moduleAddress:%d\n", *address);
    return err;
}

static aErr _aLink_GetModel(int linkId, uint8_t address, uint8_t* model)
{
    aLink_DrainPackets(linkId, drainAll, NULL);
    const uint8_t request[3] = {sSYSTEM_COMMAND, 0x40u | sMODEL_OPTION, 0x20u};
    aErr err = sPut(linkId, address, sizeof(request), request);
    if (err != aErrNone) {
        return err;
    }
    aPacket* reply = aLink_AwaitPacket(linkId, aREPLY_WAIT_MS);
    if (reply == NULL) {
        return aErrTimeout;
    }
    /* The get's reply: the bare option and index 0; an error reply (bit 7 of
     * the specifier) carries an error code, not a model. */
    err = aErrIO;
    if (reply->dataSize == 4 && reply->address == address && reply->data[0] == sSYSTEM_COMMAND &&
        reply->data[1] == sMODEL_OPTION && reply->data[2] == 0) {
        *model = reply->data[3];
        err = aErrNone;
    }
    aPacket_Destroy(&reply);
    aDEBUG_TRACE(aDEBUG_LINK, "aLink_GetModel: model:%d\n", *model);
    return err;
}

static aErr _aLink_ConfigureServerDetails(int clientId, aServer* server)
{
    uint8_t address = 0;
    aErr err = _aLink_GetModuleAddress(clientId, &address);
    aServer_SetModuleAddress(server, address);
    aDEBUG_TRACE(aDEBUG_LINK, "_getDeviceInfo: moduleAddress:%d\n", address);
    if (err == aErrNone) {
        uint8_t model = 0;
        err = _aLink_GetModel(clientId, address, &model);
        aServer_SetModel(server, model);
        aDEBUG_TRACE(aDEBUG_LINK, "_getDeviceInfo: model:%d\n", model);
    }
    if (err != aErrNone) {
        aDEBUG_TRACE(aDEBUG_LINK, "_getDeviceInfo: Flush FIFO\n");
        aServer_FlushFIFO(server);
    }
    return err;
}

/* ---- Server ---- */

int aLink_CreateServer(uint32_t serialNumber, uint16_t* port, uint32_t* networkInterface, uint8_t localOnly)
{
    const char* failure = NULL;
    int usbId = 0;
    int clientId = 0;
    uint32_t served = 0;
    aLinkEntry* usbEntry = NULL;
    aServer* server = NULL;

    if (port == NULL || networkInterface == NULL) {
        failure = "FAIL: NULL arguments:";
        goto fail;
    }
    usbId = aLink_CreateUSB(serialNumber);
    if (usbId == 0) {
        failure = "FAIL: aLink_CreateUSB:";
        goto fail;
    }
    usbEntry = sLookupEntryByID(usbId);
    if (usbEntry == NULL) {
        failure = "FAIL: sLookupEntryByID:";
        goto fail;
    }
    if (usbEntry->useCount != 1) {
        /* Its other users read its input queue, which the server takes over. */
        failure = "FAIL: the USB link is in use already:";
        goto fail;
    }
    server = aServer_Create(usbId, *networkInterface, localOnly);
    if (server == NULL) {
        failure = "FAIL: aServer_Create:";
        goto fail;
    }
    /* From here on the USB link's teardown destroys the server. */
    usbEntry->server = server;
    if (aServer_Start(server) != aErrNone) {
        failure = "FAIL: aServer_Start:";
        goto fail;
    }
    if (aServer_GetPort(server, port) != aErrNone) {
        failure = "FAIL: aServer_GetPort:";
        goto fail;
    }
    if (aServer_GetInterface(server, &served) != aErrNone) {
        failure = "FAIL: aServer_GetInterface:";
        goto fail;
    }
    clientId = aLink_CreateClient(served, *port, 0);
    if (clientId == 0) {
        failure = "FAIL: aLink_CreateClient:";
        goto fail;
    }
    aLinkEntry* clientEntry = sLookupEntryByID(clientId);
    if (clientEntry == NULL) {
        failure = "FAIL: NULL != clientItem:";
        goto fail;
    }
    /* The client link holds the USB link's use now: destroying the client
     * link releases it. */
    clientEntry->parentId = usbId;
    usbId = 0;

    aErr err = aErrUnknown;
    for (int attempt = 0; attempt < sDETAIL_ATTEMPTS; attempt++) {
        uint64_t began = aTime_GetMSTicks();
        err = _aLink_ConfigureServerDetails(clientId, server);
        if (err == aErrNone) {
            break;
        }
        aDEBUG_TRACE(aDEBUG_LINK, "FAIL: for _getDeviceInfo will try again. :\n");
        if (attempt + 1 < sDETAIL_ATTEMPTS) {
            uint64_t spent = aTime_GetMSTicks() - began;
            uint64_t pause = sDETAIL_PAUSE_MS;
            if (err == aErrTimeout && spent < sWORKER_BUSY_MS) {
                pause += sWORKER_BUSY_MS - spent;
            }
            aTime_MSSleep((uint32_t)pause);
        }
    }
    if (err != aErrNone) {
        failure = "FAIL: NULL != _getDeviceInfo:";
        goto fail;
    }
    *networkInterface = served;
    return clientId;

fail:
    aDEBUG_TRACE(aDEBUG_LINK, "%s\n", failure);
    aDEBUG_TRACE(aDEBUG_SERVER, "Failed to create server\n");
    /* Once the client link holds the USB link, only the client link goes. */
    if (clientId != 0) {
        aLink_Destroy(&clientId);
    }
    if (usbId != 0) {
        aLink_Destroy(&usbId);
    }
    return 0;
}
