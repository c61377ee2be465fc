// Creation of links through a network server of this system: the server
// case of a USB connection and the network-client links.
#include "LinkImpl.h"

#include "aLinkNetwork.h"

namespace Zorventa {
namespace Morvasset {

int linkCreateServer(std::uint32_t serialNumber, std::uint16_t* port, std::uint32_t* networkInterface,
                     std::uint8_t localOnly)
{
    return aLink_CreateServer(serialNumber, port, networkInterface, localOnly);
}

int linkCreateClient(std::uint32_t address, std::uint16_t port, int existingID)
{
    return aLink_CreateClient(address, port, existingID);
}

}  // namespace Morvasset
}  // namespace Zorventa
