/* The link registry: every link of the process, found by id or by the keys of
 * its transport, with a use count. Internal to the library. The registry
 * mutex is held only while the list is walked or changed; an entry returned
 * stays valid while its user holds a use or a hold of it. */
#ifndef MORV_ALINKREGISTRY_H
#define MORV_ALINKREGISTRY_H

#include <stdint.h>

#include "aLink.h"
#include "aServer.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Link types (linkType); 0 for a link over a caller's stream. */
#define aLINK_TYPE_STREAM 0u
#define aLINK_TYPE_USB 1u
#define aLINK_TYPE_TCPIP 2u
#define aLINK_TYPE_SERIAL 3u
#define aLINK_TYPE_CLIENT 4u

/* Identifier of a link over a caller's stream. */
#define aLINK_STREAM_IDENTIFIER 0xFFFFFFFFu

typedef struct aLinkEntry {
    int32_t id;        /* from 1 upwards, never reused */
    int32_t parentId;  /* a link of which this one holds a use; 0 for none */
    aServer* server;   /* the server sharing this USB link; NULL for none */
    /* Left by whoever makes a server for this link: the link's teardown
     * calls it for a server still attached, so the engine names no server. */
    aErr (*destroyServer)(aServer** server);
    uint32_t identifier; /* serial number, IPv4 address, or aLINK_STREAM_IDENTIFIER */
    uint32_t key2;     /* TCP port, else 0 */
    uint32_t key3;     /* client number of a network-client link, else 0 */
    uint32_t type;
    int16_t useCount;  /* guarded by the registry mutex */
    int32_t holds;     /* operations running on the record; guarded likewise */
    uint8_t retired;   /* torn down: the last hold frees it; guarded likewise */
    aLink* link;       /* allocated zero-filled with the entry */
    struct aLinkEntry* next; /* the next older entry */
} aLinkEntry;

/* New entry with a zero-filled record, use count 0, at the head of the list;
 * its id, or 0 when memory runs out or the ids are used up. */
int sCreate2(uint32_t identifier, uint32_t key2, uint32_t key3, uint32_t type);
int sCreate(uint32_t identifier, uint32_t key2, uint32_t type);
aLinkEntry* sLookupEntryByID(int id);
/* Newest entry with that identifier, whatever its type and other keys. */
aLinkEntry* sLookupEntryByIdentifier(uint32_t identifier);
/* Newest entry whose three keys all equal the arguments. */
aLinkEntry* sLookupEntryByTrident(uint32_t identifier, uint32_t key2, uint32_t key3);
/* Unlinks the entry of that id and returns it (the caller frees it); NULL
 * when none. */
aLinkEntry* sExtractEntry(int id);
/* Adds delta to the use count; a NULL entry changes nothing. */
void sChangeUseCount(aLinkEntry* entry, int delta);
aLink* sGetLink(int id);

/* Sharing, as one step under the registry mutex so that it races no
 * teardown: finds the newest entry in use of the same type family (USB and
 * serial links are one family: a module by serial number) with all three
 * keys equal and raises its use count. The id, 0 when none; -1 when
 * refuseServed is set and the entry carries a network server (nothing
 * changed). Links over a caller's stream are never shared. */
int aLinkRegistry_Share(uint32_t identifier, uint32_t key2, uint32_t key3, uint32_t type, int refuseServed);
/* Raises the use count of the entry of that id if it is in use; the id, or 0. */
int aLinkRegistry_ShareByID(int id);

/* Result of aLinkRegistry_Release. */
typedef enum { aLINK_RELEASE_NOT_FOUND, aLINK_RELEASE_IN_USE, aLINK_RELEASE_LAST } aLinkReleaseResult;
/* Lowers the use count and, at 0 or below, extracts the entry, as one step
 * under the registry mutex; *entry receives it when extracted. */
aLinkReleaseResult aLinkRegistry_Release(int id, aLinkEntry** entry, int* useCount);

/* Holds: an operation on a link holds its entry, so that the record stays
 * allocated while the operation runs. A hold is not a use: the last use still
 * tears the link down at once (which wakes the holders' waits), and only the
 * memory waits for the last hold. */
/* Raises the holds of the entry of that id; the entry, or NULL when none. */
aLinkEntry* aLinkRegistry_HoldByID(int id);
/* Lowers the holds; true when the caller must free the entry (it was retired
 * and this was the last hold). */
int aLinkRegistry_Unhold(aLinkEntry* entry);
/* Marks an extracted entry as torn down; true when no hold remains (the
 * caller frees it), else the last hold does. */
int aLinkRegistry_Retire(aLinkEntry* entry);

#ifdef __cplusplus
}
#endif

#endif
