// Linked into programs that use libusb in-process against the emulated
// kernel: before main, the program runs itself again with umockdev's preload
// library, which routes /sys, /dev and the device ioctls to the testbed.
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

__attribute__((constructor)) void runUnderUmockdevPreload(int, char** argv, char**)
{
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr)
        return;
    if (std::getenv("MORV_UMOCK_REEXEC") != nullptr)
        return;  // the preload could not be loaded: run without, tests will fail plainly
    std::string value = std::string(MORV_POLL_SHIM) + ":libumockdev-preload.so.0";
    if (preload != nullptr && *preload != '\0')
        value += std::string(":") + preload;
    setenv("LD_PRELOAD", value.c_str(), 1);
    setenv("MORV_UMOCK_REEXEC", "1", 1);
    // A sanitized build must accept the preloaded library ahead of its runtime.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string options = asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "";
    setenv("ASAN_OPTIONS", (options + "verify_asan_link_order=0").c_str(), 1);
    execv("/proc/self/exe", argv);
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// umockdev's preload library is not ours and keeps small records of the
// descriptors it follows past the end of a run that opens many at once.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libumockdev-preload.so\n";
}
#endif
