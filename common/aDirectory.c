/* Directories and paths. */
#include "aDirectory.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#define MAX_COMPONENTS 10
#define SEP_CHAR '/'

bool aDirectory_Exists(const char* path)
{
    struct stat st;
    return path != NULL && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

/* Makes one level unless it is there; EEXIST is fine. */
static aErr makeLevel(const char* path, unsigned int mode)
{
    if (aDirectory_Exists(path))
        return aErrNone;
    if (mkdir(path, (mode_t)mode) != 0 && errno != EEXIST)
        return aErrPermission;
    return aErrNone;
}

aErr aDirectory_Ensure(const char* path, unsigned int mode)
{
    if (path == NULL || *path == '\0')
        return aErrParam;
    if (aDirectory_Exists(path))
        return aErrNone;

    char* copy = strdup(path);
    if (copy == NULL)
        return aErrMemory;
    size_t length = strlen(copy);

    /* Longest leading part that already is a directory. */
    size_t start = 0;
    for (size_t i = length; i-- > 1;) {
        if (copy[i] != SEP_CHAR)
            continue;
        copy[i] = '\0';
        bool exists = aDirectory_Exists(copy);
        copy[i] = SEP_CHAR;
        if (exists) {
            start = i;
            break;
        }
    }

    aErr result = aErrNone;
    for (size_t i = start + 1; i < length && result == aErrNone; ++i) {
        if (copy[i] != SEP_CHAR || copy[i - 1] == SEP_CHAR)
            continue;
        copy[i] = '\0';
        result = makeLevel(copy, mode);
        copy[i] = SEP_CHAR;
    }
    free(copy);
    if (result != aErrNone)
        return result;
    return makeLevel(path, mode);
}

aErr aDirectory_List(const char* path, aDirectoryListProc callback, void* ref)
{
    if (path == NULL || callback == NULL)
        return aErrParam;
    DIR* dir = opendir(path);
    if (dir == NULL)
        return aErrNotFound;

    char entryPath[aDIR_PATH_BUFFER];
    aErr result = aErrNone;
    for (;;) {
        errno = 0;
        struct dirent* entry = readdir(dir);
        if (entry == NULL) {
            if (errno != 0)
                result = aErrIO;
            break;
        }
        /* An entry whose path does not fit is skipped like one that cannot be stat-ed. */
        if (aDirectory_JoinPath(entryPath, sizeof(entryPath), path, entry->d_name) != aErrNone)
            continue;
        struct stat st;
        if (stat(entryPath, &st) != 0)
            continue;
        aDirectoryListData data;
        data.path = entryPath;
        data.size = (uint32_t)st.st_size;
        data.isDirectory = S_ISDIR(st.st_mode) ? 1u : 0u;
        if (callback(&data, ref) != 1)
            break;
    }
    closedir(dir);
    return result;
}

aErr aDirectory_Delete(const char* path)
{
    if (path == NULL)
        return aErrParam;
    return rmdir(path) == 0 ? aErrNone : aErrUnknown;
}

/* Empties the directory open on fd (taken over and closed). Works relative to
 * descriptors with AT_SYMLINK_NOFOLLOW / O_NOFOLLOW, so a link is removed
 * itself and never followed, even if an entry is swapped for one meanwhile,
 * and no depth is limited by a path buffer. path (one shared buffer of
 * aDIR_PATH_BUFFER bytes) only names entries in the message and may be cut
 * short. Stops at the first failure; what is left makes the caller's rmdir fail. */
static void removeContents(int fd, char* path)
{
    DIR* dir = fdopendir(fd);
    if (dir == NULL) {
        close(fd);
        return;
    }
    size_t used = strlen(path);
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        const char* name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        snprintf(path + used, aDIR_PATH_BUFFER - used, "%s%s", aDIR_PATH_SEP, name);
        struct stat st;
        bool failed = false;
        if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            /* gone meanwhile, or not ours to see: skipped */
        } else if (S_ISDIR(st.st_mode)) {
            int child = openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0) {
                failed = true;
            } else {
                removeContents(child, path);
                failed = unlinkat(dirfd(dir), name, AT_REMOVEDIR) != 0;
            }
        } else if (unlinkat(dirfd(dir), name, 0) != 0) {
            perror("aDirectory_DeleteTree");
            printf("---error unlink-ing file [%s]\n", path);
            fflush(stdout);
            failed = true;
        }
        path[used] = '\0';
        if (failed)
            break;
    }
    closedir(dir);
}

aErr aDirectory_DeleteTree(const char* path)
{
    if (path == NULL)
        return aErrParam;
    struct stat st;
    if (lstat(path, &st) != 0)
        return aErrNotFound;
    /* A link given as the tree is removed, its target left alone (as rm -r does). */
    if (S_ISLNK(st.st_mode))
        return unlink(path) == 0 ? aErrNone : aErrUnknown;
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return aErrNotFound;
    char names[aDIR_PATH_BUFFER];
    snprintf(names, sizeof(names), "%s", path);
    removeContents(fd, names);
    return aDirectory_Delete(path);
}

aErr aDirectory_CWD(char* buffer, size_t size)
{
    if (buffer == NULL || size == 0)
        return aErrParam;
    return getcwd(buffer, size) != NULL ? aErrNone : aErrParam;
}

aErr aDirectory_ExecutableFilePath(char* buffer, size_t size)
{
    if (buffer == NULL || size == 0)
        return aErrParam;
    ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
    if (n < 0) {
        buffer[0] = '\0';
        return aErrRead;
    }
    buffer[n] = '\0';
    return aErrNone;
}

aErr aDirectory_GetHomeDirectory(char* buffer, size_t size)
{
    if (buffer == NULL || size == 0)
        return aErrParam;
    const char* home = NULL;
    struct passwd entry;
    struct passwd* found = NULL;
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    size_t scratchSize = suggested > 0 ? (size_t)suggested : 16384;
    char* scratch = NULL;
    /* getpwuid_r rather than getpwuid: other threads may read the database too. */
    for (int attempt = 0; attempt < 4; ++attempt, scratchSize *= 2) {
        char* bigger = realloc(scratch, scratchSize);
        if (bigger == NULL)
            break;
        scratch = bigger;
        int rc = getpwuid_r(getuid(), &entry, scratch, scratchSize, &found);
        if (rc != ERANGE)
            break;
        found = NULL;
    }
    if (found != NULL && found->pw_dir != NULL && found->pw_dir[0] != '\0')
        home = found->pw_dir;
    if (home == NULL)
        home = getenv("HOME");
    if (home == NULL)
        home = "";
    /* Cut to size - 1 so the result is always terminated. */
    size_t length = strnlen(home, size - 1);
    memcpy(buffer, home, length);
    buffer[length] = '\0';
    free(scratch);
    return aErrNone;
}

aErr aDirectory_BuildPath(char* destination, size_t size, const char* first, ...)
{
    if (destination == NULL || size == 0)
        return aErrParam;
    destination[0] = '\0';
    if (first == NULL || first == destination)
        return aErrParam;

    const char* components[MAX_COMPONENTS];
    size_t count = 0;
    components[count++] = first;
    va_list args;
    va_start(args, first);
    aErr result = aErrNone;
    for (const char* next = va_arg(args, const char*); next != NULL;
         next = va_arg(args, const char*)) {
        if (count == MAX_COMPONENTS) {
            result = aErrParam;
            break;
        }
        components[count++] = next;
    }
    va_end(args);
    if (result != aErrNone)
        return result;
    /* A component inside the destination would be overwritten while copying. */
    for (size_t i = 0; i < count; ++i) {
        if (components[i] >= destination && components[i] < destination + size)
            return aErrParam;
    }

    size_t length = strlen(first);
    if (length >= size - 1)
        return aErrOverrun;
    memcpy(destination, first, length + 1);

    for (size_t i = 1; i < count; ++i) {
        const char* part = components[i];
        size_t left = size - length - 1;
        if (left > 1 && (length == 0 || destination[length - 1] != SEP_CHAR) &&
            part[0] != SEP_CHAR) {
            destination[length++] = SEP_CHAR;
            destination[length] = '\0';
            left -= 1;
        }
        size_t partLength = strlen(part);
        if (partLength >= left)
            return aErrOverrun;
        memcpy(destination + length, part, partLength + 1);
        length += partLength;
    }
    return aErrNone;
}

aErr aDirectory_JoinPath(char* destination, size_t size, const char* first, const char* second)
{
    return aDirectory_BuildPath(destination, size, first, second, (const char*)NULL);
}
