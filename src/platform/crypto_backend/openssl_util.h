#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "platform/crypto_backend/crypto_backend_outcome.h"

// Owners for the OpenSSL objects the backend uses, and the one way a failed OpenSSL call becomes an outcome.
namespace tiv::cryptoapi {

namespace detail {
template <typename T, void (*Free)(T*)> struct openssl_deleter {
    void operator()(T* p) const { Free(p); }
};
inline void free_bignum(BIGNUM* p) {
    BN_clear_free(p);
}
inline void free_bio(BIO* p) {
    BIO_free_all(p);
}
} // namespace detail

using pkey_ptr = std::unique_ptr<EVP_PKEY, detail::openssl_deleter<EVP_PKEY, EVP_PKEY_free>>;
using pkey_ctx_ptr = std::unique_ptr<EVP_PKEY_CTX, detail::openssl_deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using cipher_ctx_ptr = std::unique_ptr<EVP_CIPHER_CTX, detail::openssl_deleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using cipher_ptr = std::unique_ptr<EVP_CIPHER, detail::openssl_deleter<EVP_CIPHER, EVP_CIPHER_free>>;
using md_ptr = std::unique_ptr<EVP_MD, detail::openssl_deleter<EVP_MD, EVP_MD_free>>;
using bignum_ptr = std::unique_ptr<BIGNUM, detail::openssl_deleter<BIGNUM, detail::free_bignum>>;
using param_bld_ptr = std::unique_ptr<OSSL_PARAM_BLD, detail::openssl_deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using param_ptr = std::unique_ptr<OSSL_PARAM, detail::openssl_deleter<OSSL_PARAM, OSSL_PARAM_free>>;
using bio_ptr = std::unique_ptr<BIO, detail::openssl_deleter<BIO, detail::free_bio>>;

// Frees what OpenSSL keeps for the calling thread (its random generators, its error queue). OpenSSL does this itself
// once the thread has gone, which can be after the process has decided to exit; a thread that is about to end calls
// it so nothing of it outlives the thread.
void release_thread_state();

// Drains this thread's OpenSSL error queue into one line ("none recorded" when it is empty), so a
// failure never leaves stale entries behind for the next caller to misread.
[[nodiscard]] std::string openssl_error_text();

// The outcome for a failed OpenSSL call: `what` names the step, the queue says why.
[[nodiscard]] outcome openssl_failure(error_code code, std::string_view what);

// Bytes that hold key material: never copied by accident, wiped when they are released.
class secure_bytes {
public:
    secure_bytes() = default;
    explicit secure_bytes(std::size_t size) : m_aBytes(size) {}
    secure_bytes(const std::uint8_t* data, std::size_t size) : m_aBytes(data, data + size) {}
    secure_bytes(const secure_bytes&) = delete;
    secure_bytes& operator=(const secure_bytes&) = delete;
    secure_bytes(secure_bytes&& other) noexcept;
    secure_bytes& operator=(secure_bytes&& other) noexcept;
    ~secure_bytes() { wipe(); }

    [[nodiscard]] std::uint8_t* data() { return m_aBytes.data(); }
    [[nodiscard]] const std::uint8_t* data() const { return m_aBytes.data(); }
    [[nodiscard]] std::size_t size() const { return m_aBytes.size(); }
    [[nodiscard]] bool empty() const { return m_aBytes.empty(); }
    // Keeps the first `size` bytes and wipes the rest.
    void truncate(std::size_t size);
    void wipe();

private:
    std::vector<std::uint8_t> m_aBytes;
};

} // namespace tiv::cryptoapi
