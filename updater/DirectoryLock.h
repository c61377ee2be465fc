// An advisory lock (flock) held on a directory itself, so that runs of the
// program take turns in it without leaving a lock file there.
#ifndef MORV_UPDATER_DIRECTORYLOCK_H
#define MORV_UPDATER_DIRECTORYLOCK_H

#include <chrono>
#include <functional>
#include <string>

class DirectoryLock {
public:
    // Waits at most `wait` for the lock, calling `waiting` (when given) once
    // as soon as it finds another holder and has some time to wait; Held tells
    // whether it was got, Error why not (ETIMEDOUT when another holder kept it).
    DirectoryLock(const std::string& directory, std::chrono::milliseconds wait,
                  const std::function<void()>& waiting = {});
    // Releases the lock.
    ~DirectoryLock();

    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    bool Held() const { return _held; }
    // The open directory while the lock is held, else -1.
    int Fd() const { return _fd; }
    int Error() const { return _error; }
    // True when the directory cannot carry the lock: its file system offers
    // none (NFS, for one, refuses it on a directory) or it may not be read.
    // Callers go on without it.
    bool Unsupported() const { return _unsupported; }

private:
    int _fd = -1;
    bool _held = false;
    int _error = 0;
    bool _unsupported = false;
};

#endif
