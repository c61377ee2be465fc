/* Files through stdio streams, with every failure mapped to an aErr code. */
#ifndef MORV_AFILE_H
#define MORV_AFILE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aFILE_MAX_PATH 4096

/* Open modes. */
#define aFILE_MODE_READ   0 /* "rb" */
#define aFILE_MODE_WRITE  1 /* "wb", truncates */
#define aFILE_MODE_APPEND 2 /* "ab+", readable too, starts at the end */

/* Seek origins; any other value counts as aFILE_SEEK_START. */
#define aFILE_SEEK_START   0
#define aFILE_SEEK_CURRENT 1
#define aFILE_SEEK_END     2

typedef struct aFile aFile;

/* True for an existing path (at most 4096 characters) that is not a directory. */
bool aFile_Exists(const char* path);
/* A new handle, or NULL on any failure. */
aFile* aFile_Open(const char* path, int mode);
/* Closes and frees the handle and sets *file to NULL (also on failure);
 * a failed close (lost buffered data) gives aErrIO. */
aErr aFile_Close(aFile** file);
/* Reads up to count bytes; nothing read for a non-zero count: aErrEOF
 * (aErrIO on a read error). */
aErr aFile_Read(aFile* file, void* buffer, size_t count, size_t* bytesRead);
/* Writes count bytes; a short write gives aErrIO. */
aErr aFile_Write(aFile* file, const void* data, size_t count, size_t* bytesWritten);
/* Moves within 0..size; outside it aErrRange and the position stays. */
aErr aFile_Seek(aFile* file, int64_t offset, int origin);
aErr aFile_GetSize(aFile* file, uint64_t* size);
aErr aFile_GetPosition(aFile* file, int64_t* position);
/* Reads one line (newline kept); aErrOverrun when it does not fit, the rest
 * is left for the next call; aErrEOF at the end. */
aErr aFile_ReadLine(aFile* file, char* buffer, size_t size, size_t* length);
aErr aFile_SetUnbuffered(aFile* file);
aErr aFile_Printf(aFile* file, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
aErr aFile_Delete(const char* path);

#ifdef __cplusplus
}
#endif

#endif
