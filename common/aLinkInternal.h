/* What the link engine offers the library's other files: operations by link
 * id hold the record through this pair. Internal to the library. */
#ifndef MORV_ALINKINTERNAL_H
#define MORV_ALINKINTERNAL_H

#include "aLinkRegistry.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The record of a registered, initialised link with a hold of its entry in
 * *hold, or NULL (nothing held). Every operation by link id goes through this
 * pair and none takes or releases a use (only aLink_Destroy does), so no
 * operation, not even one a filter calls on a pipe thread, tears a link down. */
aLink* aLink_AcquireRecord(int id, aLinkEntry** hold);
/* Releases a hold from aLink_AcquireRecord or aLinkRegistry_HoldByID; NULL
 * does nothing. The last hold of a torn-down link frees its memory, which
 * never waits. */
void aLink_ReleaseRecord(aLinkEntry* hold);

/* The work of aLink_Reset. */
aErr aLink_ResetLink(aLinkEntry* entry);

#ifdef __cplusplus
}
#endif

#endif
