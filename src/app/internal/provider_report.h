#pragma once

#include "app/internal/only.h"

#include "app/status.h"

namespace tiv {

class crypto_provider;

namespace app {
class questions;
}

// The first service that is unavailable after the provider was opened, in start-up's order of tests, with the
// text of its security message; ok when the provider is ready.
[[nodiscard]] app::status provider_state(const crypto_provider& provider);

// After the provider was opened: the container's unexpected failure, when there was one, asked once (caption
// "Special Debugging").
void report_open_failure(crypto_provider& provider, app::questions& answers);

// After start-up opened the provider: the container's unexpected failure as report_open_failure tells it, then at
// most one message box (caption "Security System Error") naming the first service that is unavailable. Returns true
// when the provider is ready and nothing was shown.
bool report_provider_state(crypto_provider& provider, app::questions& answers);

} // namespace tiv
