/* The link registry: entries, their ids, use counts and holds. A leaf: it
 * calls no other part of the link library (creation by transport is in
 * aLinkCreate.c). */
#include "aLinkRegistry.h"

#include <pthread.h>
#include <stdbool.h>
#include <stdlib.h>

#include "aDebug.h"

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

int aLinkRegistry_Share(uint32_t identifier, uint32_t key2, uint32_t key3, uint32_t type, int refuseServed)
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
                     link != NULL ? aLink_RunningOf(link) : 0,
                     link != NULL ? aLink_StatusOf(link) : linkStatusNoStream);
        aDEBUG_TRACE(aDEBUG_LINK, " sChangeUseCount(%d, %+d) ==> %d\n", id, 1, count);
    }
    return id;
}

int aLinkRegistry_ShareByID(int id)
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

aLinkReleaseResult aLinkRegistry_Release(int id, aLinkEntry** entry, int* useCount)
{
    *entry = NULL;
    *useCount = 0;
    if (!sLock()) {
        return aLINK_RELEASE_NOT_FOUND;
    }
    aLinkEntry* found = sFindByIdLocked(id);
    if (found == NULL) {
        sUnlock();
        return aLINK_RELEASE_NOT_FOUND;
    }
    *useCount = sChangeLocked(found, -1);
    if (*useCount > 0) {
        sUnlock();
        return aLINK_RELEASE_IN_USE;
    }
    *entry = sExtractLocked(id);
    sUnlock();
    return aLINK_RELEASE_LAST;
}

aLinkEntry* aLinkRegistry_HoldByID(int id)
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

int aLinkRegistry_Unhold(aLinkEntry* entry)
{
    if (entry == NULL || !sLock()) {
        return 0;
    }
    entry->holds--;
    int last = entry->holds <= 0 && entry->retired;
    sUnlock();
    return last;
}

int aLinkRegistry_Retire(aLinkEntry* entry)
{
    if (entry == NULL || !sLock()) {
        return 0;
    }
    entry->retired = 1;
    int unheld = entry->holds <= 0;
    sUnlock();
    return unheld;
}
