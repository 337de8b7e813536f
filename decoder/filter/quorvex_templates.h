#pragma once

#include <span>

#include "platform/filter/filter_server.h"

// The library's factory table, shared by the class factory and registration.
std::span<const CFactoryTemplate> QuorvexTemplates();
