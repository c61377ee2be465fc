// The module's signed feature token, fetched from the update server.
#include <string>

#include "UpdateServerRequest.h"
#include "Updater.h"

std::string Updater::Get_JWT(uint32_t serial)
{
    std::string token;
    if (!UpdateServerRequest::ping(server_url.c_str())) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Server request failed for %s", server_url.c_str());
        return token;
    }
    if (!UpdateServerRequest::GetDeviceJWT(serial, token, server_url.c_str()))
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Failed to retrieve jwt for %08X", serial);
    return token;
}
