/* Files through stdio streams. */
#include "aFile.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <limits.h>

#define aFILE_CHECK 0xFEEDu
#define aVALIDFILE(f) ((f) != NULL && (f)->check == aFILE_CHECK)

/* Last transfer direction; an append-mode stream must be repositioned
 * between a write and a read. */
enum { OP_NONE, OP_READ, OP_WRITE };

struct aFile {
    FILE* stream;
    int mode;
    uint32_t check;
    int lastOp;
};

static bool pathLengthOK(const char* path)
{
    return strnlen(path, aFILE_MAX_PATH + 1) <= aFILE_MAX_PATH;
}

static bool canRead(const aFile* file)
{
    return file->mode == aFILE_MODE_READ || file->mode == aFILE_MODE_APPEND;
}

static bool canWrite(const aFile* file)
{
    return file->mode == aFILE_MODE_WRITE || file->mode == aFILE_MODE_APPEND;
}

static void switchTo(aFile* file, int op)
{
    if (file->lastOp != OP_NONE && file->lastOp != op)
        fseeko(file->stream, 0, SEEK_CUR);
    file->lastOp = op;
}

bool aFile_Exists(const char* path)
{
    struct stat st;
    if (path == NULL || !pathLengthOK(path))
        return false;
    return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

aFile* aFile_Open(const char* path, int mode)
{
    static const char* const FOPEN_MODE[] = {"rb", "wb", "ab+"};
    if (path == NULL || *path == '\0' || !pathLengthOK(path))
        return NULL;
    if (mode < aFILE_MODE_READ || mode > aFILE_MODE_APPEND)
        return NULL;
    aFile* file = calloc(1, sizeof(*file));
    if (file == NULL)
        return NULL;
    file->stream = fopen(path, FOPEN_MODE[mode]);
    if (file->stream == NULL) {
        free(file);
        return NULL;
    }
    file->mode = mode;
    file->check = aFILE_CHECK;
    file->lastOp = OP_NONE;
    if (mode == aFILE_MODE_APPEND && aFile_Seek(file, 0, aFILE_SEEK_END) != aErrNone) {
        aFile_Close(&file);
        return NULL;
    }
    return file;
}

aErr aFile_Close(aFile** file)
{
    if (file == NULL)
        return aErrParam;
    aFile* handle = *file;
    *file = NULL;
    if (!aVALIDFILE(handle))
        return aErrParam;
    /* fclose flushes: a failure here means written data was lost. */
    int rc = fclose(handle->stream);
    handle->check = 0;
    free(handle);
    return rc == 0 ? aErrNone : aErrIO;
}

aErr aFile_Read(aFile* file, void* buffer, size_t count, size_t* bytesRead)
{
    if (bytesRead != NULL)
        *bytesRead = 0;
    if (!aVALIDFILE(file) || buffer == NULL)
        return aErrParam;
    if (!canRead(file))
        return aErrMode;
    if (count == 0)
        return aErrNone;
    switchTo(file, OP_READ);
    clearerr(file->stream);
    size_t n = fread(buffer, 1, count, file->stream);
    if (bytesRead != NULL)
        *bytesRead = n;
    if (n < count && ferror(file->stream))
        return aErrIO;
    return n == 0 ? aErrEOF : aErrNone;
}

aErr aFile_Write(aFile* file, const void* data, size_t count, size_t* bytesWritten)
{
    if (bytesWritten != NULL)
        *bytesWritten = 0;
    if (!aVALIDFILE(file) || data == NULL)
        return aErrParam;
    if (!canWrite(file))
        return aErrMode;
    if (count == 0)
        return aErrNone;
    switchTo(file, OP_WRITE);
    size_t n = fwrite(data, 1, count, file->stream);
    if (bytesWritten != NULL)
        *bytesWritten = n;
    return n == count ? aErrNone : aErrIO;
}

aErr aFile_GetSize(aFile* file, uint64_t* size)
{
    if (!aVALIDFILE(file) || size == NULL)
        return aErrParam;
    *size = 0;
    off_t current = ftello(file->stream);
    if (current < 0)
        return aErrIO;
    file->lastOp = OP_NONE;
    if (fseeko(file->stream, 0, SEEK_END) != 0)
        return aErrIO;
    off_t end = ftello(file->stream);
    if (end < 0) {
        fseeko(file->stream, current, SEEK_SET);
        return aErrIO;
    }
    *size = (uint64_t)end;
    if (fseeko(file->stream, current, SEEK_SET) != 0)
        return aErrIO;
    return aErrNone;
}

aErr aFile_Seek(aFile* file, int64_t offset, int origin)
{
    if (!aVALIDFILE(file))
        return aErrParam;
    off_t current = ftello(file->stream);
    if (current < 0)
        return aErrIO;
    uint64_t size = 0;
    if (aFile_GetSize(file, &size) != aErrNone)
        return aErrIO;
    int64_t base = 0;
    if (origin == aFILE_SEEK_CURRENT)
        base = (int64_t)current;
    else if (origin == aFILE_SEEK_END)
        base = (int64_t)size;
    /* base >= 0, so only a positive offset can overflow. */
    if (offset > 0 && base > INT64_MAX - offset)
        return aErrRange;
    int64_t target = base + offset;
    if (target < 0 || (uint64_t)target > size)
        return aErrRange;
    file->lastOp = OP_NONE;
    if (fseeko(file->stream, (off_t)target, SEEK_SET) != 0)
        return aErrIO;
    if (ftello(file->stream) < 0)
        return aErrIO;
    return aErrNone;
}

aErr aFile_GetPosition(aFile* file, int64_t* position)
{
    if (!aVALIDFILE(file))
        return aErrParam;
    off_t current = ftello(file->stream);
    if (current < 0)
        return aErrIO;
    if (position != NULL)
        *position = (int64_t)current;
    return aErrNone;
}

aErr aFile_ReadLine(aFile* file, char* buffer, size_t size, size_t* length)
{
    if (length != NULL)
        *length = 0;
    if (buffer != NULL && size > 0)
        buffer[0] = '\0';
    if (!aVALIDFILE(file) || buffer == NULL)
        return aErrParam;
    if (!canRead(file))
        return aErrMode;
    /* Room for at least one character and the terminator. */
    if (size < 2)
        return aErrParam;
    int limit = size > INT_MAX ? INT_MAX : (int)size;
    switchTo(file, OP_READ);
    clearerr(file->stream);
    if (fgets(buffer, limit, file->stream) == NULL) {
        buffer[0] = '\0';
        return feof(file->stream) && !ferror(file->stream) ? aErrEOF : aErrIO;
    }
    size_t n = strlen(buffer);
    if (length != NULL)
        *length = n;
    if (n == (size_t)limit - 1 && buffer[n - 1] != '\n')
        return aErrOverrun;
    return aErrNone;
}

aErr aFile_SetUnbuffered(aFile* file)
{
    if (!aVALIDFILE(file))
        return aErrParam;
    if (!canWrite(file))
        return aErrMode;
    return setvbuf(file->stream, NULL, _IONBF, 0) == 0 ? aErrNone : aErrMode;
}

aErr aFile_Printf(aFile* file, const char* format, ...)
{
    if (!aVALIDFILE(file) || format == NULL)
        return aErrParam;
    if (!canWrite(file))
        return aErrMode;
    switchTo(file, OP_WRITE);
    va_list args;
    va_start(args, format);
    int rc = vfprintf(file->stream, format, args);
    va_end(args);
    return rc < 0 ? aErrIO : aErrNone;
}

aErr aFile_Delete(const char* path)
{
    if (path == NULL)
        return aErrParam;
    if (!pathLengthOK(path))
        return aErrFileNameLength;
    if (unlink(path) == 0)
        return aErrNone;
    switch (errno) {
    case ENOENT:
        return aErrNotFound;
    case EACCES:
        return aErrPermission;
    default:
        return aErrIO;
    }
}
