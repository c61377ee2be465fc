#include "FdIo.h"

#include <unistd.h>

namespace morvtest {

bool writeAll(int fd, const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    return ioAll(size, [&](std::size_t done) { return ::write(fd, bytes + done, size - done); });
}

}  // namespace morvtest
