// deviceInfo: the registry's record of one device. It owns the device's
// Module, so the module lives exactly as long as the last reference to the
// record: removing a device while a call on it is in flight cannot free the
// module under that call.
#pragma once

#include <memory>

#include "Module.h"

class deviceInfo {
public:
    explicit deviceInfo(std::unique_ptr<Zorventa::Morvasset::Module> owned);
    ~deviceInfo();

    deviceInfo(const deviceInfo&) = delete;
    deviceInfo& operator=(const deviceInfo&) = delete;

private:
    std::unique_ptr<Zorventa::Morvasset::Module> m_owned;

public:
    // What the wrappers hand to an entity's init; fixed for the record's life.
    Zorventa::Morvasset::Module* const module;
};
