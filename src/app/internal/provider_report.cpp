#include "app/internal/provider_report.h"

#include "app/questions.h"
#include "crypto/crypto_provider.h"

namespace tiv {

app::status provider_state(const crypto_provider& provider) {
    const auto unavailable = [](const char* text) { return app::status(app::status_code::keys_unavailable, text); };
    if (!provider.provider_acquired) {
        return unavailable(
            "Could not access Cryptography Service Provider!\r\nAuthentication and encryption services unavailable");
    }
    if (provider.ready) {
        return {};
    }
    if (!provider.container_open) {
        return unavailable("Could not open key container!\r\nAuthentication and encryption services unavailable");
    }
    if (provider.exchange_key() == nullptr) {
        return unavailable("Could not access key-exchange key!\r\nEncryption services unavailable");
    }
    if (provider.signature_key() == nullptr) {
        return unavailable("Could not access signature key!\r\nAuthentication services unavailable");
    }
    // Both keys are there but the flag was not recomputed; nothing the user could act on.
    return {};
}

void report_open_failure(crypto_provider& provider, app::questions& answers) {
    if (const cryptoapi::outcome failure = provider.take_open_failure(); !failure) {
        (void)answers.ask(failure.text(), "Special Debugging", app::MB_OK | app::MB_ICONWARNING);
    }
}

bool report_provider_state(crypto_provider& provider, app::questions& answers) {
    report_open_failure(provider, answers);
    const app::status state = provider_state(provider);
    if (state.ok()) {
        return provider.ready;
    }
    // A provider that cannot be had at all gets a plain box; a missing part of it a warning.
    const unsigned style = provider.provider_acquired ? app::MB_OK | app::MB_ICONWARNING : app::MB_OK;
    (void)answers.ask(state.text(), "Security System Error", style);
    return false;
}

} // namespace tiv
