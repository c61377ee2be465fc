/* The stream record, its push-back ring, the generic read/write operations
 * and the file streams. The socket and serial transports live in
 * aStreamSocket.c and aStreamSerial.c. */
#include "aStream.h"

#include <stdlib.h>
#include <string.h>

#include "aFile.h"

/* Reads up to this many bytes use a buffer on the stack. */
#define sSMALL_READ 64u

aStream* aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                        aStreamDeleteProc destroy, void* ref)
{
    aStream* stream = (aStream*)calloc(1, sizeof(aStream));
    if (stream == NULL) {
        return NULL;
    }
    stream->get = get;
    stream->put = put;
    stream->write = write;
    stream->destroy = destroy;
    stream->ref = ref;
    stream->check = aSTREAM_CHECK;
    return stream;
}

aErr aStream_Destroy(aStream** pStream)
{
    if (pStream == NULL) {
        return aErrParam;
    }
    aStream* stream = *pStream;
    *pStream = NULL;
    if (!aVALIDSTREAM(stream)) {
        return aErrParam;
    }
    aErr err = stream->destroy != NULL ? stream->destroy(stream->ref) : aErrNone;
    free(stream->ring);
    stream->check = 0;
    free(stream);
    return err;
}

aErr aStream_SetCancel(aStream* stream, aStreamCancelProc cancel)
{
    if (!aVALIDSTREAM(stream)) {
        return aErrParam;
    }
    stream->cancel = cancel;
    return aErrNone;
}

aErr aStream_Cancel(aStream* stream)
{
    if (!aVALIDSTREAM(stream)) {
        return aErrParam;
    }
    if (stream->cancel != NULL) {
        stream->cancel(stream->ref);
    }
    return aErrNone;
}

/* Makes room for one more byte; one slot always stays free. */
static aErr sStreamRingReserve(aStream* stream)
{
    if (stream->ring == NULL) {
        stream->ring = (char*)malloc(aSTREAM_RING_STEP);
        if (stream->ring == NULL) {
            return aErrMemory;
        }
        stream->ringCapacity = aSTREAM_RING_STEP;
        stream->ringCount = 0;
        stream->ringRead = 0;
        stream->ringWrite = 0;
        return aErrNone;
    }
    if (stream->ringCount < stream->ringCapacity - 1) {
        return aErrNone;
    }
    size_t capacity = stream->ringCapacity + aSTREAM_RING_STEP;
    char* grown = (char*)malloc(capacity);
    if (grown == NULL) {
        return aErrMemory;
    }
    size_t first = stream->ringCapacity - stream->ringRead;
    if (first > stream->ringCount) {
        first = stream->ringCount;
    }
    memcpy(grown, stream->ring + stream->ringRead, first);
    memcpy(grown + first, stream->ring, stream->ringCount - first);
    free(stream->ring);
    stream->ring = grown;
    stream->ringCapacity = capacity;
    stream->ringRead = 0;
    stream->ringWrite = stream->ringCount;
    return aErrNone;
}

aErr aStreamBufferChar(aStream* stream, char byte)
{
    if (!aVALIDSTREAM(stream)) {
        return aErrParam;
    }
    aErr err = sStreamRingReserve(stream);
    if (err != aErrNone) {
        return err;
    }
    stream->ring[stream->ringWrite] = byte;
    stream->ringWrite = (stream->ringWrite + 1) % stream->ringCapacity;
    stream->ringCount++;
    return aErrNone;
}

/* Puts bytes back in front of whatever the ring holds, keeping their order. */
static aErr sStreamUnread(aStream* stream, const char* bytes, size_t count)
{
    while (count > 0) {
        aErr err = sStreamRingReserve(stream);
        if (err != aErrNone) {
            return err;
        }
        stream->ringRead = (stream->ringRead + stream->ringCapacity - 1) % stream->ringCapacity;
        stream->ring[stream->ringRead] = bytes[--count];
        stream->ringCount++;
    }
    return aErrNone;
}

static bool sStreamGetBufferedChar(aStream* stream, char* byte)
{
    if (stream->ring == NULL || stream->ringCount == 0) {
        return false;
    }
    *byte = stream->ring[stream->ringRead];
    stream->ringRead = (stream->ringRead + 1) % stream->ringCapacity;
    stream->ringCount--;
    return true;
}

aErr aStream_Read(aStream* stream, char* destination, size_t count)
{
    if (!aVALIDSTREAM(stream) || destination == NULL) {
        return aErrParam;
    }
    if (stream->get == NULL) {
        return aErrMode;
    }
    if (count == 0) {
        return aErrNone;
    }
    char small[sSMALL_READ];
    char* scratch = count <= sizeof(small) ? small : (char*)malloc(count);
    if (scratch == NULL) {
        return aErrResource;
    }

    size_t got = 0;
    aErr err = aErrNone;
    while (err == aErrNone && got < count) {
        char byte;
        if (sStreamGetBufferedChar(stream, &byte)) {
            scratch[got++] = byte;
            continue;
        }
        err = stream->get(&byte, stream->ref);
        if (err == aErrNone) {
            scratch[got++] = byte;
        }
    }

    if (err == aErrNotReady) {
        /* The ring was empty when the transport said "not yet", so pushing
         * the bytes back keeps them in order for the next read. */
        for (size_t i = 0; i < got; i++) {
            aErr pushed = aStreamBufferChar(stream, scratch[i]);
            if (pushed != aErrNone) {
                err = pushed;
                break;
            }
        }
    } else if (err == aErrNone || err == aErrEOF) {
        memcpy(destination, scratch, got);
    }

    if (scratch != small) {
        free(scratch);
    }
    return err;
}

aErr aStream_Write(aStream* stream, const char* data, size_t count)
{
    if (!aVALIDSTREAM(stream) || data == NULL) {
        return aErrParam;
    }
    if (stream->write == NULL && stream->put == NULL) {
        return aErrMode;
    }
    if (count == 0) {
        return aErrNone;
    }
    if (stream->write != NULL && (count > 1 || stream->put == NULL)) {
        return stream->write(data, count, stream->ref);
    }
    for (size_t i = 0; i < count; i++) {
        aErr err = stream->put(&data[i], stream->ref);
        if (err != aErrNone) {
            return err;
        }
    }
    return aErrNone;
}

/* Moves bytes from the front of the pending terminator match into the record
 * until what is left begins the terminator again (or the record is full). */
static void sRecordSettle(char* record, size_t* stored, size_t maximum, char* pending,
                          size_t* matched, const char* terminator, bool all)
{
    while (*matched > 0 && *stored < maximum &&
           (all || memcmp(pending, terminator, *matched) != 0)) {
        record[(*stored)++] = pending[0];
        (*matched)--;
        memmove(pending, pending + 1, *matched);
    }
}

aErr aStream_ReadRecord(aStream* stream, char* destination, size_t* count, size_t maximum,
                        const char* terminator, size_t terminatorLength)
{
    if (count != NULL) {
        *count = 0;
    }
    if (!aVALIDSTREAM(stream) || destination == NULL || terminator == NULL ||
        terminatorLength == 0 || maximum == 0 || maximum > SIZE_MAX - terminatorLength) {
        return aErrParam;
    }
    char* record = (char*)malloc(maximum + terminatorLength);
    if (record == NULL) {
        return aErrResource;
    }
    /* Bytes that so far match the start of the terminator. */
    char* pending = record + maximum;
    size_t stored = 0;
    size_t matched = 0;
    aErr err;

    for (;;) {
        char byte;
        err = aStream_Read(stream, &byte, 1);
        if (err == aErrEOF) {
            /* A terminator cut short by the end is plain data. */
            sRecordSettle(record, &stored, maximum, pending, &matched, terminator, true);
            if (stored > 0) {
                err = aErrNone;
            }
            break;
        }
        if (err == aErrNotReady) {
            aErr back = sStreamUnread(stream, pending, matched);
            if (back == aErrNone) {
                back = sStreamUnread(stream, record, stored);
            }
            if (back != aErrNone) {
                err = back;
            }
            matched = 0;
            break;
        }
        if (err != aErrNone) {
            matched = 0;
            break;
        }
        pending[matched++] = byte;
        sRecordSettle(record, &stored, maximum, pending, &matched, terminator, false);
        if (matched == terminatorLength) {
            matched = 0;
            break;
        }
        if (stored == maximum) {
            break;
        }
    }

    /* A full record leaves an unfinished terminator match in the stream. */
    if (matched > 0) {
        aErr back = sStreamUnread(stream, pending, matched);
        if (back != aErrNone && err == aErrNone) {
            err = back;
        }
    }
    if (err == aErrNone || err == aErrEOF) {
        memcpy(destination, record, stored);
        if (count != NULL) {
            *count = stored;
        }
    }
    free(record);
    return err;
}

aErr aStream_WriteRecord(aStream* stream, const char* data, size_t length,
                         const char* terminator, size_t terminatorLength)
{
    if (data == NULL || terminator == NULL || terminatorLength == 0) {
        return aErrParam;
    }
    if (!aVALIDSTREAM(stream)) {
        return aErrParam;
    }
    aErr err = aStream_Write(stream, data, length);
    if (err == aErrNone) {
        err = aStream_Write(stream, terminator, terminatorLength);
    }
    return err;
}

aErr aStream_ReadCString(aStream* stream, char* buffer, size_t size)
{
    if (buffer == NULL || size < 2) {
        return aErrParam;
    }
    const char zero = 0;
    size_t length = 0;
    aErr err = aStream_ReadRecord(stream, buffer, &length, size - 1, &zero, 1);
    if (err == aErrNone) {
        buffer[length] = 0;
    }
    return err;
}

aErr aStream_WriteCString(aStream* stream, const char* text)
{
    if (text == NULL) {
        return aErrParam;
    }
    return aStream_Write(stream, text, strlen(text) + 1);
}

aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, size_t size, const char* terminator)
{
    if (buffer == NULL || size < 2 || terminator == NULL) {
        return aErrParam;
    }
    size_t length = 0;
    aErr err = aStream_ReadRecord(stream, buffer, &length, size - 1, terminator, strlen(terminator));
    if (err == aErrNone) {
        buffer[length] = 0;
    }
    return err;
}

aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* terminator)
{
    if (text == NULL || terminator == NULL) {
        return aErrParam;
    }
    return aStream_WriteRecord(stream, text, strlen(text), terminator, strlen(terminator) + 1);
}

aErr aStream_Flush(aStream* source, aStream* destination)
{
    if (!aVALIDSTREAM(source) || !aVALIDSTREAM(destination)) {
        return aErrParam;
    }
    if (source->get == NULL || destination->put == NULL) {
        return aErrMode;
    }
    for (;;) {
        char byte;
        aErr err = source->get(&byte, source->ref);
        if (err == aErrEOF) {
            return aErrNone;
        }
        if (err != aErrNone) {
            return err;
        }
        err = destination->put(&byte, destination->ref);
        if (err != aErrNone) {
            return err;
        }
    }
}

/* File streams. An output stream writes the path it is given, where it
 * points: a link is written through, a device or FIFO stays what it is. */

typedef struct {
    aFile* file;
} sFileRef;

static aErr sFileGet(char* byte, void* ref)
{
    sFileRef* f = (sFileRef*)ref;
    if (f == NULL || f->file == NULL || byte == NULL) {
        return aErrIO;
    }
    size_t n = 0;
    return aFile_Read(f->file, byte, 1, &n);
}

static aErr sFileWrite(const char* data, size_t length, void* ref)
{
    sFileRef* f = (sFileRef*)ref;
    if (f == NULL || f->file == NULL || data == NULL) {
        return aErrIO;
    }
    size_t n = 0;
    return aFile_Write(f->file, data, length, &n);
}

static aErr sFilePut(const char* byte, void* ref)
{
    return sFileWrite(byte, 1, ref);
}

static aErr sFileDelete(void* ref)
{
    sFileRef* f = (sFileRef*)ref;
    if (f == NULL) {
        return aErrIO;
    }
    aErr err = f->file != NULL ? aFile_Close(&f->file) : aErrIO;
    free(f);
    return err;
}

static aErr sCreateFileStream(const char* path, bool output, aStream** out)
{
    if (out == NULL) {
        return aErrResource;
    }
    *out = NULL;
    if (path == NULL) {
        return aErrResource;
    }
    sFileRef* f = (sFileRef*)calloc(1, sizeof(sFileRef));
    if (f == NULL) {
        return aErrResource;
    }
    f->file = aFile_Open(path, output ? aFILE_MODE_WRITE : aFILE_MODE_READ);
    if (f->file == NULL) {
        free(f);
        return aErrResource;
    }
    aStream* stream = output ? aStream_Create(NULL, sFilePut, sFileWrite, sFileDelete, f)
                             : aStream_Create(sFileGet, NULL, NULL, sFileDelete, f);
    if (stream == NULL) {
        aFile_Close(&f->file);
        free(f);
        return aErrResource;
    }
    *out = stream;
    return aErrNone;
}

aErr aStream_CreateFileInput(const char* path, aStream** out)
{
    return sCreateFileStream(path, false, out);
}

aErr aStream_CreateFileOutput(const char* path, aStream** out)
{
    return sCreateFileStream(path, true, out);
}
