// Creation of links through a network server of this system: the server
// case of a USB connection and the network-client links. Sharing over the
// network is not part of this build yet, so each creation fails the way a
// failed creator does, with no link id.
#include "LinkImpl.h"

namespace Zorventa {
namespace Morvasset {

int linkCreateServer(std::uint32_t, std::uint16_t*, std::uint32_t*, std::uint8_t)
{
    return 0;
}

int linkCreateClient(std::uint32_t, std::uint16_t, int)
{
    return 0;
}

}  // namespace Morvasset
}  // namespace Zorventa
