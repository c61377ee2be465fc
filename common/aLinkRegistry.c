/* The link registry and the creation of links by transport. */
#include "aLinkRegistry.h"

#include <pthread.h>
#include <stdbool.h>
#include <stdlib.h>

#include "aDebug.h"
#include "aStreamUSB.h"

static struct {
    aLinkEntry* head; /* newest first */
    int32_t nextId;
    aMutex* mutex;
} _links = {NULL, 1, NULL};

static pthread_once_t sRegistryOnce = PTHREAD_ONCE_INIT;

static void sCreateRegistryMutex(void)
{
    _links.mutex = aMutex_Create("aLink_Managed");
}

/* Locks the registry; false when its mutex could not be made. */
static bool sLock(void)
{
    pthread_once(&sRegistryOnce, sCreateRegistryMutex);
    if (_links.mutex == NULL) {
        return false;
    }
    aMutex_Lock(_links.mutex);
    return true;
}

static void sUnlock(void)
{
    aMutex_Unlock(_links.mutex);
}

/* USB and serial links both name a module by its serial number. */
static uint32_t sFamily(uint32_t type)
{
    return type == aLINK_TYPE_SERIAL ? aLINK_TYPE_USB : type;
}

static aLinkEntry* sFindByIdLocked(int id)
{
    for (aLinkEntry* entry = _links.head; entry != NULL; entry = entry->next) {
        if (entry->id == id) {
            return entry;
        }
    }
    return NULL;
}

int sCreate2(uint32_t identifier, uint32_t key2, uint32_t key3, uint32_t type)
{
    aLinkEntry* entry = (aLinkEntry*)calloc(1, sizeof(*entry));
    aLink* link = (aLink*)calloc(1, sizeof(*link));
    if (entry == NULL || link == NULL || !sLock()) {
        free(entry);
        free(link);
        return 0;
    }
    if (_links.nextId <= 0) {
        /* Ids are never reused; they are used up. */
        sUnlock();
        free(entry);
        free(link);
        return 0;
    }
    int id = _links.nextId;
    _links.nextId = id < INT32_MAX ? id + 1 : 0;
    entry->id = id;
    entry->identifier = identifier;
    entry->key2 = key2;
    entry->key3 = key3;
    entry->type = type;
    entry->link = link;
    link->id = id;
    entry->next = _links.head;
    _links.head = entry;
    sUnlock();
    aDEBUG_TRACE(aDEBUG_LINK, " sCreate2(%08X)==>%d\n", identifier, id);
    return id;
}

int sCreate(uint32_t identifier, uint32_t key2, uint32_t type)
{
    return sCreate2(identifier, key2, 0, type);
}

aLinkEntry* sLookupEntryByID(int id)
{
    if (!sLock()) {
        return NULL;
    }
    aLinkEntry* entry = sFindByIdLocked(id);
    sUnlock();
    return entry;
}

aLinkEntry* sLookupEntryByIdentifier(uint32_t identifier)
{
    if (!sLock()) {
        return NULL;
    }
    aLinkEntry* entry = _links.head;
    while (entry != NULL && entry->identifier != identifier) {
        entry = entry->next;
    }
    sUnlock();
    return entry;
}

aLinkEntry* sLookupEntryByTrident(uint32_t identifier, uint32_t key2, uint32_t key3)
{
    if (!sLock()) {
        return NULL;
    }
    aLinkEntry* entry = _links.head;
    while (entry != NULL && !(entry->identifier == identifier && entry->key2 == key2 && entry->key3 == key3)) {
        entry = entry->next;
    }
    sUnlock();
    return entry;
}

static aLinkEntry* sExtractLocked(int id)
{
    aLinkEntry* previous = NULL;
    aLinkEntry* entry = _links.head;
    while (entry != NULL && entry->id != id) {
        previous = entry;
        entry = entry->next;
    }
    if (entry == NULL) {
        return NULL;
    }
    if (previous == NULL) {
        _links.head = entry->next;
    } else {
        previous->next = entry->next;
    }
    entry->next = NULL;
    int remaining = 0;
    for (aLinkEntry* e = _links.head; e != NULL; e = e->next) {
        remaining++;
    }
    aDEBUG_TRACE(aDEBUG_LINK, "  sExtractEntry(%d) -  %d remaining\n", id, remaining);
    if (remaining == 0) {
        aDEBUG_TRACE(aDEBUG_LINK, "NO MORE LINKS\n");
    }
    return entry;
}

aLinkEntry* sExtractEntry(int id)
{
    if (!sLock()) {
        return NULL;
    }
    aLinkEntry* entry = sExtractLocked(id);
    sUnlock();
    return entry;
}

static int sChangeLocked(aLinkEntry* entry, int delta)
{
    entry->useCount = (int16_t)(entry->useCount + delta);
    return entry->useCount;
}

void sChangeUseCount(aLinkEntry* entry, int delta)
{
    if (entry == NULL || !sLock()) {
        return;
    }
    int count = sChangeLocked(entry, delta);
    sUnlock();
    aDEBUG_TRACE(aDEBUG_LINK, " sChangeUseCount(%d, %+d) ==> %d\n", entry->id, delta, count);
}

aLink* sGetLink(int id)
{
    aLinkEntry* entry = sLookupEntryByID(id);
    return entry != NULL ? entry->link : NULL;
}

int sShareEntry(uint32_t identifier, uint32_t key2, uint32_t key3, uint32_t type, int refuseServed)
{
    if (type == aLINK_TYPE_STREAM || !sLock()) {
        return 0;
    }
    uint32_t family = sFamily(type);
    aLinkEntry* entry = _links.head;
    /* An entry at use count 0 is still being created. */
    while (entry != NULL && !(entry->useCount > 0 && sFamily(entry->type) == family &&
                              entry->identifier == identifier && entry->key2 == key2 && entry->key3 == key3)) {
        entry = entry->next;
    }
    int id = 0;
    int count = 0;
    if (entry != NULL) {
        if (refuseServed && entry->server != NULL) {
            id = -1;
        } else {
            id = entry->id;
            count = sChangeLocked(entry, 1);
        }
    }
    sUnlock();
    if (id > 0) {
        aLink* link = entry->link;
        aDEBUG_TRACE(aDEBUG_LINK, "Using already created object:(0x%08X, running:%d, state=%d)\n", identifier,
                     link != NULL ? __atomic_load_n(&link->running, __ATOMIC_SEQ_CST) : 0,
                     link != NULL ? __atomic_load_n(&link->status, __ATOMIC_SEQ_CST) : linkStatusNoStream);
        aDEBUG_TRACE(aDEBUG_LINK, " sChangeUseCount(%d, %+d) ==> %d\n", id, 1, count);
    }
    return id;
}

int sShareEntryByID(int id)
{
    if (!sLock()) {
        return 0;
    }
    aLinkEntry* entry = sFindByIdLocked(id);
    int shared = 0;
    if (entry != NULL && entry->useCount > 0) {
        sChangeLocked(entry, 1);
        shared = id;
    }
    sUnlock();
    return shared;
}

sReleaseResult sReleaseEntry(int id, aLinkEntry** entry, int* useCount)
{
    *entry = NULL;
    *useCount = 0;
    if (!sLock()) {
        return sRELEASE_NOT_FOUND;
    }
    aLinkEntry* found = sFindByIdLocked(id);
    if (found == NULL) {
        sUnlock();
        return sRELEASE_NOT_FOUND;
    }
    *useCount = sChangeLocked(found, -1);
    if (*useCount > 0) {
        sUnlock();
        return sRELEASE_IN_USE;
    }
    *entry = sExtractLocked(id);
    sUnlock();
    return sRELEASE_LAST;
}

aLinkEntry* sHoldEntryByID(int id)
{
    if (!sLock()) {
        return NULL;
    }
    /* Found in the list, so not extracted: no teardown can have begun. */
    aLinkEntry* entry = sFindByIdLocked(id);
    if (entry != NULL) {
        entry->holds++;
    }
    sUnlock();
    return entry;
}

int sUnholdEntry(aLinkEntry* entry)
{
    if (entry == NULL || !sLock()) {
        return 0;
    }
    entry->holds--;
    int last = entry->holds <= 0 && entry->retired;
    sUnlock();
    return last;
}

int sRetireEntry(aLinkEntry* entry)
{
    if (entry == NULL || !sLock()) {
        return 0;
    }
    entry->retired = 1;
    int unheld = entry->holds <= 0;
    sUnlock();
    return unheld;
}

/* ---- Creators ---- */

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
    int shared = sShareEntry(serialNumber, 0, 0, aLINK_TYPE_USB, 1);
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
    int shared = sShareEntry(address, port, 0, aLINK_TYPE_TCPIP, 0);
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
    int shared = sShareEntry(serialNumber, 0, 0, aLINK_TYPE_SERIAL, 0);
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
