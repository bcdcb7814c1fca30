#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include <openssl/types.h>

#include "platform/crypto_backend/crypto_backend_random.h"

namespace tiv::cryptoapi {

// SHA-256 over bytes that arrive in pieces, for data too large to hold at once (a kept part of a broken transfer).
// A failure of the library, an allocation among them, never throws: the stream turns not ok() and stays so, and
// finish() then gives nothing a caller could mistake for a digest of the data.
class sha256_stream {
public:
    sha256_stream();
    sha256_stream(const sha256_stream&) = delete;
    sha256_stream& operator=(const sha256_stream&) = delete;
    sha256_stream(sha256_stream&&) noexcept;
    sha256_stream& operator=(sha256_stream&&) noexcept;
    ~sha256_stream();

    void update(std::span<const std::uint8_t> bytes);
    // The digest of everything given so far; the stream is spent afterwards, and any further use makes it not ok.
    // All zero when the stream is not ok (check ok() after finish()).
    [[nodiscard]] sha256_digest finish();

    // A second stream that goes on from where this one stands, so one may give the digest of what came so far while
    // the other takes more. Not ok when this one is not, or is spent.
    [[nodiscard]] sha256_stream copy() const;

    [[nodiscard]] bool ok() const { return m_strFailure.empty(); }
    // Which step failed and the library's reason; empty while ok().
    [[nodiscard]] const std::string& failure() const { return m_strFailure; }

private:
    struct context_deleter {
        void operator()(EVP_MD_CTX* context) const;
    };
    struct digest_deleter {
        void operator()(EVP_MD* digest) const;
    };

    // A failed library call: the step and the library's reason.
    void fail(const char* step);
    // A use the stream cannot serve (after finish(), or once moved from); nothing the library could explain.
    void misused(const char* what);

    std::unique_ptr<EVP_MD, digest_deleter> m_pDigest;
    std::unique_ptr<EVP_MD_CTX, context_deleter> m_pContext;
    bool m_bFinished = false;
    std::string m_strFailure;
};

} // namespace tiv::cryptoapi
