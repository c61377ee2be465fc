// The one rig of a fuzz process, made on first use. Its deleter is registered
// after CZMQ's own exit handler, so it runs first: the rig's threads and
// sockets are gone before CZMQ closes its context.
#pragma once

#include <cstdlib>

template <class Rig>
Rig& fuzzRig()
{
    static Rig* rig = nullptr;
    if (rig == nullptr) {
        rig = new Rig();
        std::atexit([] {
            delete rig;
            rig = nullptr;
        });
    }
    return *rig;
}
