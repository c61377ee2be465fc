/* The creation of links by transport: each creator shares a link already
 * open to the same peer or registers a new one and brings it up through the
 * engine. */
#include <stdbool.h>
#include <stdlib.h>

#include "aDebug.h"
#include "aLink.h"
#include "aLinkRegistry.h"
#include "aStreamUSB.h"

/* The new entry's record; NULL when it has none. */
static aLinkEntry* sNewEntry(int id)
{
    aLinkEntry* entry = id != 0 ? sLookupEntryByID(id) : NULL;
    return (entry != NULL && entry->link != NULL) ? entry : NULL;
}

static int sFail(int id)
{
    if (id != 0) {
        aLink_Destroy(&id);
    }
    return 0;
}

int aLink_CreateUSB(uint32_t serialNumber)
{
    aDEBUG_TRACE(aDEBUG_LINK, " aLink_CreateUSB(%08X)\n", serialNumber);
    int shared = aLinkRegistry_Share(serialNumber, 0, 0, aLINK_TYPE_USB, 1);
    if (shared < 0) {
        aDEBUG_TRACE(aDEBUG_LINK, "This device is already being used as a \"SERVER\". \nYou must connect by "
                                  "\"CLIENT\" \n");
        return 0;
    }
    if (shared > 0) {
        return shared;
    }
    int id = sCreate(serialNumber, 0, aLINK_TYPE_USB);
    aLinkEntry* entry = sNewEntry(id);
    if (entry == NULL) {
        return sFail(id);
    }
    aStream* stream = NULL;
    aErr err = aStream_CreateUSB(serialNumber, &stream);
    if (err != aErrNone) {
        aDEBUG_TRACE(aDEBUG_LINK, " aLink_CreateUSB() error creating stream %d\n", err);
        if (stream != NULL) {
            aStream_Destroy(&stream);
        }
        return sFail(id);
    }
    if (stream == NULL) {
        return sFail(id);
    }
    if (aLink_Init(id, stream) != id) {
        return sFail(id);
    }
    sChangeUseCount(entry, 1);
    err = aLink_Start(id);
    if (err == aErrNone) {
        err = aLink_Sync(id);
    }
    if (err == aErrNone) {
        err = aLink_ForceRoute(id, 1);
    }
    return err == aErrNone ? id : sFail(id);
}

int aLink_CreateTCPIP(uint32_t address, uint16_t port)
{
    aDEBUG_TRACE(aDEBUG_LINK, "aLink_CreateTCPIP(%08X, %08X)\n", address, port);
    int shared = aLinkRegistry_Share(address, port, 0, aLINK_TYPE_TCPIP, 0);
    if (shared > 0) {
        return shared;
    }
    int id = sCreate(address, port, aLINK_TYPE_TCPIP);
    aLinkEntry* entry = sNewEntry(id);
    if (entry == NULL) {
        return sFail(id);
    }
    aStream* stream = NULL;
    if (aStream_CreateSocket(address, port, &stream) != aErrNone || stream == NULL) {
        return sFail(id);
    }
    if (aLink_Init(id, stream) != id || aLink_Start(id) != aErrNone) {
        return sFail(id);
    }
    sChangeUseCount(entry, 1);
    return id;
}

static int sBaudIndex(int baud)
{
    static const int rates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
    for (int i = 0; i < (int)(sizeof(rates) / sizeof(rates[0])); i++) {
        if (rates[i] == baud) {
            return i;
        }
    }
    return -1;
}

int aLink_CreateSerial(uint32_t serialNumber, const char* path, int baud)
{
    aDEBUG_TRACE(aDEBUG_LINK, " aLink_CreateSerial(%s)\n", path != NULL ? path : "(null)");
    int shared = aLinkRegistry_Share(serialNumber, 0, 0, aLINK_TYPE_SERIAL, 0);
    if (shared > 0) {
        return shared;
    }
    int id = sCreate(serialNumber, 0, aLINK_TYPE_SERIAL);
    aLinkEntry* entry = sNewEntry(id);
    if (entry == NULL) {
        return sFail(id);
    }
    int index = sBaudIndex(baud);
    if (index < 0) {
        return sFail(id);
    }
    aStream* stream = NULL;
    aErr err = aStream_CreateSerial(path, index, false, 0, 0, &stream);
    if (err != aErrNone || stream == NULL) {
        aDEBUG_TRACE(aDEBUG_LINK, " aLink_CreateSerial() error creating stream %d\n", err);
        if (stream != NULL) {
            aStream_Destroy(&stream);
        }
        return sFail(id);
    }
    if (aLink_Init(id, stream) != id) {
        return sFail(id);
    }
    sChangeUseCount(entry, 1);
    return aLink_Start(id) == aErrNone ? id : sFail(id);
}

int aLink_Create(aStream* stream)
{
    aDEBUG_TRACE(aDEBUG_LINK, "aLink_Create(%08X) OLD VERSION\n", aLINK_STREAM_IDENTIFIER);
    if (!aVALIDSTREAM(stream)) {
        return 0;
    }
    int id = sCreate(aLINK_STREAM_IDENTIFIER, 0, aLINK_TYPE_STREAM);
    aLinkEntry* entry = sNewEntry(id);
    if (entry == NULL) {
        /* The link owns the stream from the call on. */
        aStream_Destroy(&stream);
        return sFail(id);
    }
    if (aLink_Init(id, stream) != id) {
        return sFail(id);
    }
    if (aLink_Start(id) != aErrNone) {
        return sFail(id);
    }
    sChangeUseCount(entry, 1);
    return id;
}
