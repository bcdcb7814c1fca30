#include "platform/sha256_stream.h"

#include <openssl/evp.h>

#include "platform/crypto_backend/openssl_util.h"
#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv::cryptoapi {

void sha256_stream::context_deleter::operator()(EVP_MD_CTX* context) const {
    EVP_MD_CTX_free(context);
}

void sha256_stream::digest_deleter::operator()(EVP_MD* digest) const {
    EVP_MD_free(digest);
}

sha256_stream::sha256_stream() {
    load_providers();
    m_pDigest.reset(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    if (!m_pDigest) {
        fail("fetching SHA256");
        return;
    }
    m_pContext.reset(EVP_MD_CTX_new());
    if (!m_pContext) {
        fail("allocating a SHA256 context");
        return;
    }
    if (EVP_DigestInit_ex2(m_pContext.get(), m_pDigest.get(), nullptr) != 1) {
        fail("starting SHA256");
    }
}

sha256_stream::sha256_stream(sha256_stream&&) noexcept = default;
sha256_stream& sha256_stream::operator=(sha256_stream&&) noexcept = default;
sha256_stream::~sha256_stream() = default;

void sha256_stream::fail(const char* step) {
    if (ok()) {
        m_strFailure = openssl_failure(cryptoapi::failure, step).text();
    }
}

void sha256_stream::misused(const char* what) {
    if (ok()) {
        m_strFailure = what;
    }
}

sha256_stream sha256_stream::copy() const {
    sha256_stream twin;
    if (!ok() || m_bFinished || !m_pContext) {
        twin.misused("a copy of a stream that failed or is spent");
    } else if (twin.ok() && EVP_MD_CTX_copy_ex(twin.m_pContext.get(), m_pContext.get()) != 1) {
        twin.fail("EVP_MD_CTX_copy_ex");
    }
    return twin;
}

void sha256_stream::update(std::span<const std::uint8_t> bytes) {
    if (!ok()) {
        return;
    }
    if (m_bFinished || !m_pContext) {
        misused("SHA256 update of a finished stream");
        return;
    }
    if (!bytes.empty() && EVP_DigestUpdate(m_pContext.get(), bytes.data(), bytes.size()) != 1) {
        fail("SHA256 update");
    }
}

sha256_digest sha256_stream::finish() {
    sha256_digest digest{};
    if (!ok()) {
        return digest;
    }
    if (m_bFinished || !m_pContext) {
        misused("SHA256 digest of a finished stream");
        return digest;
    }
    m_bFinished = true;
    unsigned int written = 0;
    if (EVP_DigestFinal_ex(m_pContext.get(), digest.data(), &written) != 1 || written != digest.size()) {
        fail("SHA256 digest");
        return sha256_digest{};
    }
    return digest;
}

} // namespace tiv::cryptoapi
