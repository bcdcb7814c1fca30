#pragma once

namespace tiv {

class crypto_provider;

// After start-up opened the provider: shows at most one message box (caption "Security System Error") naming
// the first service that is unavailable. Returns true when the provider is ready and nothing was shown.
bool report_provider_state(const crypto_provider& provider);

} // namespace tiv
