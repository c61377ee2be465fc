#include "ErrorCause.h"

#include <cstring>

std::string ErrorCause(int systemError, aErr code)
{
    if (systemError == 0) {
        const char* description = aError_GetErrorDescription(code);
        return description != nullptr ? description : "";
    }
    char buffer[256];
    // The GNU form: the text may be a static one rather than the buffer.
    return strerror_r(systemError, buffer, sizeof buffer);
}
