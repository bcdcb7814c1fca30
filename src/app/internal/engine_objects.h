#pragma once

#include "app/internal/only.h"

// The process-wide settings object and key provider by name only. App code and tests that hold their own call the
// services with them; front ends hold an app::program instead and never see these types' insides.
namespace tiv {
class qvl_settings_data;
class crypto_provider;
} // namespace tiv
