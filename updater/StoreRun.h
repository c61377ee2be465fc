// What one run of the program holds of the store, and how long it may still
// wait for it. Runs take turns in a device directory through a lock on the
// directory (DirectoryLock). A run that finds a directory taken waits for it,
// at most one bound in all over the whole run, however many turns it takes,
// and tells so (through `waiting`) the first time it has to wait, never again.
// A directory the run holds already is its own again at once: a turn inside a
// longer one never waits for the run itself. Used by one thread.
#ifndef MORV_UPDATER_STORERUN_H
#define MORV_UPDATER_STORERUN_H

#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "DirectoryLock.h"

// One turn in a directory; the lock is released when the last turn sharing it ends.
class StoreTurn {
public:
    StoreTurn() = default;
    StoreTurn(std::shared_ptr<DirectoryLock> lock, bool fresh) : _lock(std::move(lock)), _fresh(fresh) {}

    bool Held() const { return _lock && _lock->Held(); }
    // True when the turn may write: it holds the lock, or the directory cannot carry one.
    bool MayWrite() const { return _lock && (_lock->Held() || _lock->Unsupported()); }
    bool TimedOut() const { return _lock && _lock->Error() == ETIMEDOUT; }
    int Error() const { return _lock ? _lock->Error() : 0; }
    // True when this turn took the lock itself, rather than sharing one the run held.
    bool Fresh() const { return _fresh; }
    int Fd() const { return _lock ? _lock->Fd() : -1; }

private:
    std::shared_ptr<DirectoryLock> _lock;
    bool _fresh = false;
};

class StoreRun {
public:
    // Longer than any other run holds a device directory: the write of the
    // largest bundle the store takes on a slow disk, or a module's transfer
    // by an update, which holds its directory from before it touches the
    // module until the transfer is recorded.
    static constexpr std::chrono::seconds DEFAULT_BOUND{600};
    // Told the directory, and the seconds the run may still wait for it.
    using Notice = std::function<void(const std::string& directory, unsigned seconds)>;

    explicit StoreRun(std::chrono::milliseconds bound = DEFAULT_BOUND, Notice waiting = {}, Notice gaveUp = {});

    // A turn in the directory: the lock the run holds there already, or the
    // lock got within what is left of the bound. `gaveUp` is told (once per
    // run) when another run kept it that long.
    StoreTurn Take(const std::string& directory);

    std::chrono::milliseconds Left() const { return _left; }
    // True once another run kept a directory past what was left of the bound:
    // the run gave up waiting, and what needed the directory must stop.
    bool GaveUp() const { return _gaveUpOnce; }

private:
    std::chrono::milliseconds _left;
    Notice _waiting;
    Notice _gaveUp;
    bool _toldWaiting = false;
    bool _toldGaveUp = false;
    bool _gaveUpOnce = false;
    // The directories held, by device and inode.
    std::map<std::pair<dev_t, ino_t>, std::weak_ptr<DirectoryLock>> _held;
};

#endif
