#include "deviceInfo.h"

#include <utility>

deviceInfo::deviceInfo(std::unique_ptr<Zorventa::Morvasset::Module> owned)
    : m_owned(std::move(owned)), module(m_owned.get())
{
}

deviceInfo::~deviceInfo() = default;
