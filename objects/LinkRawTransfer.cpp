#include "LinkRawTransfer.h"

#include "DeviceError.h"

namespace Zorventa {
namespace Morvasset {

aErr deviceErrorCode(const aPacket* reply, std::size_t at)
{
    if (reply->dataSize <= at)
        return aErrUnknown;
    return deviceErrorResult(reply->data[at]);
}

aErr notTheReadsOverrun(aErr failure)
{
    return failure == aErrOverrun ? aErrUnknown : failure;
}

}  // namespace Morvasset
}  // namespace Zorventa
