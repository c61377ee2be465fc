// packResult: hands the value and error code of one wrapper call to the
// caller's Result record.
#pragma once

#include <cstdint>

#include "morvwrappers.h"

// A null record is left alone: there is nowhere to report to.
void packResult(Result* result, std::int32_t value, std::int32_t error) noexcept;
