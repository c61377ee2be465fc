/* A lock and a saved copy around CZMQ's process-wide interface setting,
 * which decides on which network interface the next zbeacon actor works. */
#ifndef MORV_ZBEACONINTERFACE_H
#define MORV_ZBEACONINTERFACE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Tag a searching client publishes (20 bytes, no NUL on the wire). */
#define DISCOVERY_BEACON_FILTER "Morvasset2-Discovery"
#define DISCOVERY_BEACON_FILTER_SIZE 20u
#define DISCOVERY_BEACON_PORT 8585

/* Every locking call is paired with one releasing call on the same thread:
 * setAndLock with unlock, backupSetAndLock with restoreAndUnlock, and the
 * getters that lock with unlock. The lock is not recursive: a locking call
 * by the thread that holds it fails (returns 0 or NULL) instead of waiting. */

/* Valid texts: a dotted IPv4 address, "" or "*". 0 and nothing taken for an
 * invalid text; otherwise takes the lock, sets the interface and returns 1. */
int zBeaconInterface_setAndLock(const char* interfaceText);
/* Like setAndLock, saving the current setting first for restoreAndUnlock. */
int zBeaconInterface_backupSetAndLock(const char* interfaceText);
/* Releases the lock; 1, or 0 when this thread does not hold it. */
int zBeaconInterface_unlock(void);
/* Puts the saved setting back and releases the lock; 1, or 0 (and nothing
 * changed) when this thread does not hold it. */
int zBeaconInterface_restoreAndUnlock(void);

/* The getters return a copy the caller frees with free(), NULL when memory
 * runs out; the copy is taken under an inner lock, so it stays valid while
 * another thread changes the setting. The AndLock forms also take the lock
 * (NULL and no lock when this thread already holds it). */
char* zBeaconInterface_get(void);
char* zBeaconInterface_getAndLock(void);
char* zBeaconInterface_getBackup(void);
char* zBeaconInterface_getBackupAndLock(void);

#ifdef __cplusplus
}
#endif

#endif
