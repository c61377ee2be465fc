/* Serialises changes of CZMQ's process-wide beacon interface setting. */
#include "zBeaconInterface.h"

#include <arpa/inet.h>
#include <czmq.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include "aDebug.h"
#include "aZeroMQ.h"

#define BACKUP_RESERVE 100u

/* The lock callers see; error-checking, so a second lock by its holder
 * fails instead of hanging and an unlock by another thread is refused. */
static pthread_mutex_t _interfaceLock;
static pthread_once_t _interfaceLockOnce = PTHREAD_ONCE_INIT;
/* Short inner lock around every read and write of the setting, the backup
 * and the holder record; never held while waiting for _interfaceLock. */
static pthread_mutex_t _stateLock = PTHREAD_MUTEX_INITIALIZER;
static char* _backupInterface;
static size_t _backupCapacity;
static int _held;
static pthread_t _holder;

static void initInterfaceLock(void)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK);
    pthread_mutex_init(&_interfaceLock, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

__attribute__((destructor)) static void freeBackup(void)
{
    free(_backupInterface);
    _backupInterface = NULL;
    _backupCapacity = 0;
}

static int validText(const char* text)
{
    struct in_addr address;
    if (!text)
        return 0;
    return text[0] == '\0' || strcmp(text, "*") == 0 || inet_pton(AF_INET, text, &address) == 1;
}

/* Under _stateLock: room for at least the reserve and for needed bytes. */
static int reserveBackup(size_t needed, const char* caller)
{
    if (_backupCapacity < BACKUP_RESERVE)
        aDEBUG_TRACE(aDEBUG_BEACON, "%s Reserving memory for _backupInterface\n", caller);
    size_t capacity = needed > BACKUP_RESERVE ? needed : BACKUP_RESERVE;
    if (_backupCapacity >= capacity)
        return 1;
    char* grown = realloc(_backupInterface, capacity);
    if (!grown)
        return 0;
    if (_backupCapacity == 0)
        grown[0] = '\0';
    _backupInterface = grown;
    _backupCapacity = capacity;
    return 1;
}

/* CZMQ starts with its first setting. */
static void setInterface(const char* text)
{
    aZeroMQ_Start();
    zsys_set_interface(text);
}

static char* copyText(const char* text)
{
    return strdup(text ? text : "");
}

static int takeLock(const char* caller)
{
    pthread_once(&_interfaceLockOnce, initInterfaceLock);
    aDEBUG_TRACE(aDEBUG_BEACON, "%s PRE-LOCK\n", caller);
    if (pthread_mutex_lock(&_interfaceLock) != 0)
        return 0; /* this thread holds it already */
    aDEBUG_TRACE(aDEBUG_BEACON, "%s LOCKED\n", caller);
    pthread_mutex_lock(&_stateLock);
    _held = 1;
    _holder = pthread_self();
    pthread_mutex_unlock(&_stateLock);
    return 1;
}

/* Under _stateLock. */
static int heldByMe(void)
{
    return _held && pthread_equal(_holder, pthread_self());
}

static void releaseLock(void)
{
    pthread_mutex_lock(&_stateLock);
    _held = 0;
    pthread_mutex_unlock(&_stateLock);
    pthread_mutex_unlock(&_interfaceLock);
}

int zBeaconInterface_setAndLock(const char* interfaceText)
{
    if (!validText(interfaceText))
        return 0;
    if (!takeLock(__func__))
        return 0;
    pthread_mutex_lock(&_stateLock);
    setInterface(interfaceText);
    pthread_mutex_unlock(&_stateLock);
    return 1;
}

int zBeaconInterface_backupSetAndLock(const char* interfaceText)
{
    if (!validText(interfaceText))
        return 0;
    if (!takeLock(__func__))
        return 0;
    pthread_mutex_lock(&_stateLock);
    const char* current = zsys_interface();
    if (!current)
        current = "";
    size_t length = strlen(current);
    if (!reserveBackup(length + 1, __func__)) {
        /* Nothing to restore from: leave the setting alone. */
        pthread_mutex_unlock(&_stateLock);
        releaseLock();
        return 0;
    }
    memcpy(_backupInterface, current, length + 1);
    setInterface(interfaceText);
    pthread_mutex_unlock(&_stateLock);
    return 1;
}

int zBeaconInterface_unlock(void)
{
    aDEBUG_TRACE(aDEBUG_BEACON, "%s: UNLOCKING\n", __func__);
    pthread_mutex_lock(&_stateLock);
    int mine = heldByMe();
    pthread_mutex_unlock(&_stateLock);
    if (!mine)
        return 0;
    releaseLock();
    return 1;
}

int zBeaconInterface_restoreAndUnlock(void)
{
    aDEBUG_TRACE(aDEBUG_BEACON, "%s UNLOCKING\n", __func__);
    pthread_mutex_lock(&_stateLock);
    if (!heldByMe()) {
        pthread_mutex_unlock(&_stateLock);
        return 0;
    }
    setInterface(_backupInterface ? _backupInterface : "");
    pthread_mutex_unlock(&_stateLock);
    releaseLock();
    return 1;
}

char* zBeaconInterface_get(void)
{
    pthread_mutex_lock(&_stateLock);
    char* copy = copyText(zsys_interface());
    pthread_mutex_unlock(&_stateLock);
    return copy;
}

char* zBeaconInterface_getAndLock(void)
{
    if (!takeLock(__func__))
        return NULL;
    char* copy = zBeaconInterface_get();
    if (!copy)
        releaseLock();
    return copy;
}

char* zBeaconInterface_getBackup(void)
{
    pthread_mutex_lock(&_stateLock);
    char* copy = reserveBackup(1, __func__) ? copyText(_backupInterface) : NULL;
    pthread_mutex_unlock(&_stateLock);
    return copy;
}

char* zBeaconInterface_getBackupAndLock(void)
{
    pthread_mutex_lock(&_stateLock);
    int reserved = reserveBackup(1, __func__);
    pthread_mutex_unlock(&_stateLock);
    if (!reserved || !takeLock(__func__))
        return NULL;
    char* copy = zBeaconInterface_getBackup();
    if (!copy)
        releaseLock();
    return copy;
}
