// A discovery callback for tests: keeps a copy of every spec it is handed,
// accepts them unless told otherwise, and stops after a given number.
#pragma once

#include <cstring>
#include <vector>

#include "aDiscovery.h"

namespace morvtest {

struct DiscoveryCollector {
    std::vector<linkSpec> specs;
    int stopAfter = -1;  // calls after which it says stop; -1 never
    bool accept = true;

    static std::uint8_t callback(const linkSpec* spec, bool* accepted, void* reference)
    {
        auto* self = static_cast<DiscoveryCollector*>(reference);
        linkSpec copy;
        std::memcpy(&copy, spec, sizeof(copy));
        self->specs.push_back(copy);
        *accepted = self->accept;
        return self->stopAfter >= 0 && int(self->specs.size()) >= self->stopAfter ? 0 : 1;
    }

    std::uint8_t run(linkType type, std::uint32_t networkInterface)
    {
        return aDiscovery_EnumerateModules(type, &DiscoveryCollector::callback, this, networkInterface);
    }
};

}  // namespace morvtest
