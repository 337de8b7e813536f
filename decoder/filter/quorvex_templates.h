#pragma once

#include <span>

#include "platform/com/factory_template.h"

// The library's factory table, shared by the class factory and registration.
std::span<const CFactoryTemplate> QuorvexTemplates();
