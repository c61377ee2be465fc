/* Byte streams: a record binding get/put/write/delete procedures to a
 * transport reference, with a push-back ring, plus the file, TCP socket and
 * serial tty transports. */
#ifndef MORV_ASTREAM_H
#define MORV_ASTREAM_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Procedure results: 0 success, aErrNotReady no byte now (try later),
 * aErrEOF the source has ended, anything else a failure. */
typedef aErr (*aStreamGetProc)(char* byte, void* ref);
typedef aErr (*aStreamPutProc)(const char* byte, void* ref);
typedef aErr (*aStreamWriteProc)(const char* data, size_t length, void* ref);
typedef aErr (*aStreamDeleteProc)(void* ref);
/* Tells the transport that its owner is stopping; runs on any thread while
 * another may be inside a procedure. */
typedef void (*aStreamCancelProc)(void* ref);

#define aSTREAM_CHECK 0x4321u
/* Push-back ring starts at this size and grows by it. */
#define aSTREAM_RING_STEP 512u

/* The fields belong to aStream.c; callers go through the functions below. */
typedef struct aStream {
    aStreamGetProc get;
    aStreamPutProc put;
    aStreamWriteProc write;
    aStreamDeleteProc destroy;
    aStreamCancelProc cancel;
    void* ref;
    char* ring;
    size_t ringCount;
    size_t ringCapacity;
    size_t ringRead;
    size_t ringWrite;
    uint16_t check;
} aStream;

#define aVALIDSTREAM(s) ((s) != NULL && (s)->check == aSTREAM_CHECK)

/* A new stream owning ref, or NULL when memory runs out; any procedure may
 * be NULL. */
aStream* aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                        aStreamDeleteProc destroy, void* ref);

/* Runs the delete procedure (its result is the result), frees the record and
 * sets *stream to NULL in every case; an invalid stream gives aErrParam. */
aErr aStream_Destroy(aStream** stream);

/* Gives the stream a cancel procedure (NULL: none); aErrParam for an
 * invalid stream. */
aErr aStream_SetCancel(aStream* stream, aStreamCancelProc cancel);
/* The owner is stopping: from now on the transport's writes wait for room
 * only briefly and then give up with aErrTimeout, so that a writer stuck on
 * a far end that stopped reading returns. Bytes a port still takes are
 * written. aErrNone (also without a cancel procedure); aErrParam for an
 * invalid stream. */
aErr aStream_Cancel(aStream* stream);

/* Pushes one byte back; the next read sees pushed bytes first, oldest first. */
aErr aStreamBufferChar(aStream* stream, char byte);

/* Reads exactly count bytes. On aErrNotReady the destination is untouched and
 * every byte taken is kept for the next read; on aErrEOF the bytes that came
 * are copied (possibly fewer than count). */
aErr aStream_Read(aStream* stream, char* destination, size_t count);
aErr aStream_Write(aStream* stream, const char* data, size_t count);

/* Reads up to the terminator (not stored) or until maximum bytes are stored.
 * End of input after some bytes completes the record; aErrNotReady keeps the
 * bytes taken for the next call. */
aErr aStream_ReadRecord(aStream* stream, char* destination, size_t* count, size_t maximum,
                        const char* terminator, size_t terminatorLength);
aErr aStream_WriteRecord(aStream* stream, const char* data, size_t length,
                         const char* terminator, size_t terminatorLength);
/* Zero-terminated text of at most size - 1 characters, ended by a zero byte. */
aErr aStream_ReadCString(aStream* stream, char* buffer, size_t size);
aErr aStream_WriteCString(aStream* stream, const char* text);
/* Text ended by the terminator's characters (its zero not included). */
aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, size_t size,
                               const char* terminator);
/* The text, then the terminator including its zero byte. */
aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* terminator);

/* Copies bytes from source's get to destination's put; 0 at the source's end,
 * else the first failure or the source's first result that is not success. */
aErr aStream_Flush(aStream* source, aStream* destination);

/* File streams: read-only (get) or write-only (put, write). */
aErr aStream_CreateFileInput(const char* path, aStream** out);
aErr aStream_CreateFileOutput(const char* path, aStream** out);

/* TCP client stream; address in network order, port in host order.
 * 0, or aErrResource with *out NULL. */
aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStream** out);

/* Serial tty stream in raw mode. baudIndex 0-7 picks 2400, 4800, 9600, 19200,
 * 38400, 57600, 115200 or 230400; dataBits 0 eight, 1 seven; stopBits 0 one,
 * 1 two; parity on means even parity. */
aErr aStream_CreateSerial(const char* path, int baudIndex, bool parity, int dataBits, int stopBits,
                          aStream** out);
/* How long, in microseconds, a serial write sleeps before it looks again at
 * the port's output queue while queued bytes wait there: their line time at
 * baud bits per second, with characters of bitsPerCharacter bits (start and
 * stop bits included), at least one character's, at least 2 ms when the
 * queue did not shrink since the last look, and at most 20 ms (a stop is
 * noticed). 0 for an empty queue. Kept apart for tests. */
uint32_t aStream_SerialDrainWaitUs(uint32_t queued, uint32_t baud, uint32_t bitsPerCharacter, bool progressed);

#ifdef __cplusplus
}
#endif

#endif
