// ThreadSanitizer's suppressions for a test program on the emulated bus that
// has none of its own; include it from exactly one of its sources.
// umockdev and libudev are not instrumented: the testbed changed on this
// thread while its worker answers ioctls, or libudev seeding its random
// numbers on this thread and libusb's, look like unsynchronised memory.
#pragma once

#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libumockdev.so\nrace:libudev.so\n";
}
#endif
