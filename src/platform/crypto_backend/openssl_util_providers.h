#pragma once

#include <string>

namespace tiv::cryptoapi {

// What loading OpenSSL's providers gave. Loading any provider by hand stops OpenSSL from loading "default"
// on its own, so both are loaded explicitly: "default" for AES, triple DES, RSA and SHA-256, "legacy" for
// RC2, RC4 and single DES.
struct provider_report {
    bool default_loaded = false;
    bool legacy_loaded = false;
    // Why a provider could not be loaded; empty when both were.
    std::string error;
};

// Loads both providers the first time it is called (from any thread) and keeps them for the life of the
// process; later calls return the same report. Every backend entry point calls it before using OpenSSL.
const provider_report& load_providers();

} // namespace tiv::cryptoapi
