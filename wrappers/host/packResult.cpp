#include "packResult.h"

void packResult(Result* result, std::int32_t value, std::int32_t error) noexcept
{
    if (result == nullptr)
        return;
    result->value = value;
    result->error = error;
}
