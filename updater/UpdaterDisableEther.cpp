#include "Module.h"
#include "Updater.h"
#include "aEtherConfig.h"

aErr Updater::_disableEther(Zorventa::Morvasset::Module& module, UpdaterDisplayInterface& display)
{
    Zorventa::Morvasset::aEtherConfig config;
    config.enabled = false;
    config.fallback = false;
    config.localOnly = 1;
    const aErr err = module.setConfig(config);
    if (err != aErrNone)
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Failed to SET network configuration");
    return err;
}
