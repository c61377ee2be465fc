/* Per-link packet debug: the link's packet log (a ring of the most recent
 * records, filled by the link's pipe threads) and operations on it by link
 * id. Each operation holds a use of the link while it works, so a link being
 * destroyed meanwhile is torn down only after it. */
#ifndef MORV_APACKETDEBUG_H
#define MORV_APACKETDEBUG_H

#include <stdint.h>

#include "aError.h"
#include "aPacketLog.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the size of the log made by the next aLink_PacketDebug_Enable; a
 * negative size counts as 0 (the default size). aErrParam for an unregistered
 * id or a size above aPACKETLOG_MAX_SIZE, aErrBusy when the link has a log. */
aErr aLink_PacketDebug_SetLogSize(int id, int size);
/* Gives the link its log (and the mutex guarding it) when it has none, and
 * sets its enabled flag. aErrParam for an unregistered id, aErrResource when
 * the log or the mutex cannot be made. */
aErr aLink_PacketDebug_Enable(int id);
/* Clears the enabled flag. aErrParam for an unregistered id, aErrNotReady
 * when the link has no log. */
aErr aLink_PacketDebug_Disable(int id);
/* aPacketLog_Get on the link's log under its mutex. aErrParam for an
 * unregistered id, aErrNotReady when the link has no log. */
aErr aLink_PacketDebug_Read(int id, int32_t* direction, uint32_t* length, uint8_t* buffer);
/* aPacketLog_Put on the link's log under its mutex (aErrSize for more than
 * aPACKETLOG_MAX_RECORD bytes). aErrParam for an unregistered id,
 * aErrNotReady when the link has no log. */
aErr aLink_PacketDebug_Write(int id, uint8_t direction, uint32_t length, const uint8_t* bytes);

#ifdef __cplusplus
}
#endif

#endif
