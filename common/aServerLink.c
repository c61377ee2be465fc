/* A server for a registered link: finds the link's entry for the server and
 * leaves in it how the link's teardown destroys a server attached there. */
#include "aLinkRegistry.h"
#include "aServerInternal.h"

aServer* aServer_Create(int linkId, uint32_t interfaceAddress, uint8_t localOnly)
{
    aLinkEntry* entry = sLookupEntryByID(linkId);
    aServer* server = _aServer_CreateForEntry(entry, interfaceAddress, localOnly);
    if (server != NULL) {
        entry->destroyServer = aServer_Destroy;
    }
    return server;
}
