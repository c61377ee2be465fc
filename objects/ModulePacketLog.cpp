// Module's switches of its link's packet log.
#include "Module.h"

namespace Zorventa {
namespace Morvasset {

aErr Module::enablePacketLog(const char* path)
{
    if (!m_link)
        return aErrConfiguration;
    return m_link->enablePacketLog(path);
}

aErr Module::disablePacketLog()
{
    if (!m_link)
        return aErrConfiguration;
    return m_link->disablePacketLog();
}

}  // namespace Morvasset
}  // namespace Zorventa
