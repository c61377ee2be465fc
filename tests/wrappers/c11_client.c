/* A plain C11 client of the installed wrapper library, built at test time
 * with nothing but the flags pkg-config gives for morvwrappers. It opens a
 * module with morv_connectAddress, drives it through the entity functions and
 * closes it; the test that runs it plays the module and checks the lines
 * printed here, one "label value error" per line.
 *
 * Usage: c11_client roundtrip ADDRESS PORT
 *        c11_client refused   ADDRESS PORT CLOSED_PORT
 *        c11_client removed   ADDRESS PORT ASKED_FILE
 *          (the module never answers port calls, and creates ASKED_FILE when
 *          one reaches it)
 *        c11_client cycles    ADDRESS PORT COUNT
 * ADDRESS is dotted IPv4. Exit 0 when every check made here held, 1 when one
 * failed (a line "FAILED: ..." says which), 2 for a usage error. */
#define _POSIX_C_SOURCE 200809L

#include <dirent.h>
#include <pthread.h> /* not threads.h: ThreadSanitizer does not follow thrd_create */
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <morvwrappers.h>

static int failures = 0;

static void expect(int ok, const char* what)
{
    if (!ok) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

static void report(const char* label, long long value, long long error)
{
    printf("%s %lld %lld\n", label, value, error);
}

static void reportResult(const char* label, const Result* result)
{
    report(label, result_getValue(result), result_getError(result));
}

static int parseAddress(const char* text, uint32_t* address)
{
    unsigned parts[4];
    char tail;
    if (sscanf(text, "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4)
        return 0;
    *address = 0;
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 255)
            return 0;
        *address = (*address << 8) | parts[i];
    }
    return 1;
}

static int parsePort(const char* text, uint16_t* port)
{
    char* end = NULL;
    const unsigned long value = strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value > 65535)
        return 0;
    *port = (uint16_t)value;
    return 1;
}

static void sleepMs(long ms)
{
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

/* Entries of a /proc/self directory, or -1. */
static long countEntries(const char* path)
{
    DIR* dir = opendir(path);
    long count = 0;
    if (dir == NULL)
        return -1;
    for (struct dirent* entry = readdir(dir); entry != NULL; entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(dir);
    return count;
}

static int roundTrip(uint32_t address, uint16_t port)
{
    uint32_t id = 0;
    Result result = {-1, -1};

    report("null_id", 0, morv_connectAddress(address, port, NULL));
    const int32_t connected = morv_connectAddress(address, port, &id);
    report("connect", id, connected);
    if (connected != 0)
        return 1;

    system_getSerialNumber(&id, &result, 0);
    reportResult("serial", &result);
    port_getVbusVoltage(&id, &result, 2);
    reportResult("voltage", &result);
    port_setMode(&id, &result, 1, 0x80000007u);
    reportResult("set_mode", &result);
    port_getMode(&id, &result, 1);
    reportResult("mode", &result);

    report("disconnect", 0, morv_disconnect(id));
    result.value = result.error = -1;
    system_getSerialNumber(&id, &result, 0);
    reportResult("serial_after", &result);
    report("disconnect_again", 0, morv_disconnect(id));
    report("disconnect_zero", 0, morv_disconnect(0));
    return 0;
}

/* Ids never 0 and never used twice; a failed connection registers nothing,
 * so every id handed out between two good connections is unknown. */
static int refused(uint32_t address, uint16_t port, uint16_t closedPort)
{
    uint32_t first = 0;
    uint32_t second = 0;
    uint32_t id = 12345;

    expect(morv_connectAddress(address, port, &first) == 0 && first != 0, "the first connection");
    expect(morv_disconnect(first) == 0, "the first disconnection");

    report("refused", id, morv_connectAddress(address, closedPort, &id));
    id = 12345;
    report("port_zero", id, morv_connectAddress(address, 0, &id));
    id = 12345;
    report("bad_type", id, morv_connect(3, 0x1234u, &id));
    id = 12345;
    report("zero_serial", id, morv_connect(2, 0, &id));
    report("null_id", 0, morv_connect(1, 0x1234u, NULL));

    expect(morv_connectAddress(address, port, &second) == 0, "the second connection");
    expect(second > first, "a later id is larger");
    report("span", (long long)second - (long long)first, 0);
    long long known = 0;
    for (uint32_t between = first; between < second && between - first < 1000u; ++between)
        if (morv_disconnect(between) != 3)
            ++known;
    report("known_between", known, 0);
    expect(morv_disconnect(second) == 0, "the second disconnection");
    return 0;
}

static long long monotonicMs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

struct BlockedCall {
    uint32_t id;
    atomic_int started;
    atomic_int done;
    Result result;
    long long ms;
};

static void* callPort(void* argument)
{
    struct BlockedCall* call = argument;
    atomic_store(&call->started, 1);
    const long long start = monotonicMs();
    port_getVbusVoltage(&call->id, &call->result, 0);
    call->ms = monotonicMs() - start;
    atomic_store(&call->done, 1);
    return NULL;
}

/* The device goes from the registry while another thread's call on it waits
 * for an answer that never comes: that call waits out the link's time-out on
 * a device that is still there. */
static int exists(const char* path)
{
    FILE* file = fopen(path, "r");
    if (file == NULL)
        return 0;
    fclose(file);
    return 1;
}

static int removedUnderCall(uint32_t address, uint16_t port, const char* askedFile)
{
    struct BlockedCall call;
    pthread_t thread;
    Result after = {-1, -1};

    call.id = 0;
    call.ms = 0;
    call.result.value = call.result.error = -1;
    atomic_init(&call.started, 0);
    atomic_init(&call.done, 0);
    const int32_t connected = morv_connectAddress(address, port, &call.id);
    report("connect", call.id, connected);
    if (connected != 0)
        return 1;
    if (pthread_create(&thread, NULL, callPort, &call) != 0) {
        printf("FAILED: no thread\n");
        return 1;
    }
    /* The request has reached the module: the call now waits up to one
     * second for its answer. */
    for (int waited = 0; !exists(askedFile) && waited < 10000; ++waited)
        sleepMs(1);
    report("asked", exists(askedFile), 0);
    report("in_flight", !atomic_load(&call.done), 0);
    report("disconnect", 0, morv_disconnect(call.id));
    pthread_join(thread, NULL);
    reportResult("call", &call.result);
    report("call_ms", call.ms, 0);

    port_getVbusVoltage(&call.id, &after, 0);
    reportResult("call_after", &after);
    report("disconnect_again", 0, morv_disconnect(call.id));
    return 0;
}

static int oneCycle(uint32_t address, uint16_t port, uint32_t* id, int32_t* serial)
{
    Result result = {-1, -1};
    if (morv_connectAddress(address, port, id) != 0)
        return 0;
    system_getSerialNumber(id, &result, 0);
    *serial = result_getValue(&result);
    return result_getError(&result) == 0 && morv_disconnect(*id) == 0;
}

/* Many connections opened and closed: every id new, and no descriptor or
 * thread left behind (the sanitizer build also checks the heap at exit). */
static int cycles(uint32_t address, uint16_t port, long count)
{
    uint32_t id = 0;
    uint32_t last = 0;
    int32_t serial = 0;
    int32_t firstSerial = 0;
    long good = 0;

    expect(oneCycle(address, port, &last, &firstSerial), "the warm-up cycle");
    const long fdsBefore = countEntries("/proc/self/fd");
    const long tasksBefore = countEntries("/proc/self/task");
    for (long i = 0; i < count; ++i) {
        if (!oneCycle(address, port, &id, &serial)) {
            printf("FAILED: cycle %ld\n", i);
            ++failures;
            break;
        }
        expect(id > last && serial == firstSerial, "a new id and the same module");
        last = id;
        ++good;
    }
    report("cycles", good, 0);
    report("fds", countEntries("/proc/self/fd") - fdsBefore, 0);
    report("tasks", countEntries("/proc/self/task") - tasksBefore, 0);
    return 0;
}

int main(int argc, char** argv)
{
    uint32_t address = 0;
    uint16_t port = 0;
    uint16_t closedPort = 0;
    int status = 2;

    if (argc < 4 || !parseAddress(argv[2], &address) || !parsePort(argv[3], &port)) {
        fprintf(stderr, "usage: %s roundtrip|refused|removed|cycles ADDRESS PORT [ARGUMENT]\n", argv[0]);
        return 2;
    }
    if (strcmp(argv[1], "roundtrip") == 0 && argc == 4)
        status = roundTrip(address, port);
    else if (strcmp(argv[1], "refused") == 0 && argc == 5 && parsePort(argv[4], &closedPort))
        status = refused(address, port, closedPort);
    else if (strcmp(argv[1], "removed") == 0 && argc == 5)
        status = removedUnderCall(address, port, argv[4]);
    else if (strcmp(argv[1], "cycles") == 0 && argc == 5 && atol(argv[4]) > 0 && atol(argv[4]) <= 1000)
        status = cycles(address, port, atol(argv[4]));
    if (status == 2)
        fprintf(stderr, "%s: unknown scenario or arguments\n", argv[0]);
    fflush(stdout);
    return status != 0 ? status : (failures == 0 ? 0 : 1);
}
