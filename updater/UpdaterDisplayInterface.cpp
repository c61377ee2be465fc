#include "UpdaterDisplayInterface.h"

#include <cstdarg>
#include <cstdio>

namespace {
constexpr size_t kMessageBufferSize = 2048;
}

void UpdaterDisplayInterface::message(Level level, const char* format, ...)
{
    if (muted)
        return;

    char buffer[kMessageBufferSize];
    buffer[0] = '\0';
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        if (vsnprintf(buffer, sizeof(buffer), format, args) < 0)
            buffer[0] = '\0';
        va_end(args);
    }

    if (level == LEVEL_ERROR)
        error_message(buffer);
    else
        info_message(buffer);
}
