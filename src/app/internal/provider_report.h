#pragma once

#include "app/internal/only.h"

#include "app/status.h"

namespace tiv {

class crypto_provider;

// The first service that is unavailable after the provider was opened, in start-up's order of tests, with the
// text of its security message; ok when the provider is ready.
[[nodiscard]] app::status provider_state(const crypto_provider& provider);

// After start-up opened the provider: shows at most one message box (caption "Security System Error") naming
// the first service that is unavailable. Returns true when the provider is ready and nothing was shown.
bool report_provider_state(const crypto_provider& provider);

} // namespace tiv
