// The result a module's error code gives a caller. The code is a byte from
// the module; only the table's codes 1-34 are aErr values and pass on as they
// are. Any other byte (and 0, which says error without a code) reads as
// aErrUnknown: never as success, never as a value outside the enum.
#pragma once

#include <cstdint>

#include "aError.h"

namespace Zorventa {
namespace Morvasset {

inline aErr deviceErrorResult(std::uint8_t code)
{
    if (code == aErrNone || code > aErrUnknown)
        return aErrUnknown;
    return static_cast<aErr>(code);
}

}  // namespace Morvasset
}  // namespace Zorventa
