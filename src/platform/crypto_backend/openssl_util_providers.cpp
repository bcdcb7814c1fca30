#include "platform/crypto_backend/openssl_util_providers.h"

#include <cstdlib>
#include <mutex>

#include <openssl/provider.h>

#include "platform/crypto_backend/openssl_util.h"

namespace tiv::cryptoapi {

namespace {
OSSL_PROVIDER* default_provider = nullptr;
OSSL_PROVIDER* legacy_provider = nullptr;

OSSL_PROVIDER* load_one(const char* name, std::string& error) {
    OSSL_PROVIDER* provider = OSSL_PROVIDER_load(nullptr, name);
    if (provider == nullptr) {
        if (!error.empty()) {
            error += "; ";
        }
        error += std::string("cannot load the OpenSSL provider \"") + name + "\": " + openssl_error_text();
    }
    return provider;
}

// Runs at exit before OpenSSL's own clean-up (registered after it), so the providers are released while
// OpenSSL still stands; OpenSSL keeps them alive for as long as any cipher fetched from them lives.
void unload_providers() {
    if (legacy_provider != nullptr) {
        OSSL_PROVIDER_unload(legacy_provider);
    }
    if (default_provider != nullptr) {
        OSSL_PROVIDER_unload(default_provider);
    }
}
} // namespace

const provider_report& load_providers() {
    static std::once_flag once;
    static provider_report report;
    std::call_once(once, [] {
        default_provider = load_one("default", report.error);
        legacy_provider = load_one("legacy", report.error);
        report.default_loaded = default_provider != nullptr;
        report.legacy_loaded = legacy_provider != nullptr;
        if (std::atexit(unload_providers) != 0) {
            report.error += report.error.empty() ? "" : "; ";
            report.error += "cannot arrange to release the OpenSSL providers at exit";
        }
    });
    return report;
}

} // namespace tiv::cryptoapi
