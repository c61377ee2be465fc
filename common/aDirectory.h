/* Directories and path joining. */
#ifndef MORV_ADIRECTORY_H
#define MORV_ADIRECTORY_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aDIR_PATH_SEP "/"
/* Size of the path buffers of aDirectory_List and aDirectory_DeleteTree. */
#define aDIR_PATH_BUFFER 2048

/* One entry handed to an aDirectory_List callback; valid only during the call. */
typedef struct {
    const char* path;     /* listed directory joined with the entry name */
    uint32_t size;        /* low 32 bits of the size in bytes */
    uint32_t isDirectory; /* 1 for a directory, else 0 */
} aDirectoryListData;

/* Returns 1 for the next entry, anything else ends the listing. */
typedef uint8_t (*aDirectoryListProc)(const aDirectoryListData* data, void* ref);

bool aDirectory_Exists(const char* path);
/* Creates the directory and its missing parents with the permission bits mode;
 * aErrPermission when a level cannot be made. */
aErr aDirectory_Ensure(const char* path, unsigned int mode);
/* Every entry ("." and ".." too) in readdir order; entries whose path does not
 * fit or whose stat fails are skipped. aErrNotFound when it cannot be opened. */
aErr aDirectory_List(const char* path, aDirectoryListProc callback, void* ref);
/* rmdir; failure: aErrUnknown. */
aErr aDirectory_Delete(const char* path);
/* Removes the tree; symbolic links are removed, never followed, and depth is
 * not limited by a path buffer. aErrNotFound when it is no directory (a link
 * given as the tree is itself removed); aErrUnknown when anything is left. */
aErr aDirectory_DeleteTree(const char* path);
aErr aDirectory_CWD(char* buffer, size_t size);
aErr aDirectory_ExecutableFilePath(char* buffer, size_t size);
/* Home directory from the password database, else $HOME, else ""; always
 * zero-terminated (cut to size - 1). aErrParam for a NULL buffer or size 0. */
aErr aDirectory_GetHomeDirectory(char* buffer, size_t size);
/* Joins up to ten components, NULL-terminated, with exactly one separator
 * between two; aErrOverrun when it does not fit, aErrParam for bad arguments. */
aErr aDirectory_BuildPath(char* destination, size_t size, const char* first, ...)
#if defined(__GNUC__)
    __attribute__((sentinel))
#endif
    ;
aErr aDirectory_JoinPath(char* destination, size_t size, const char* first, const char* second);

#ifdef __cplusplus
}
#endif

#endif
