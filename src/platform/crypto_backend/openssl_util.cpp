#include "platform/crypto_backend/openssl_util.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

namespace tiv::cryptoapi {

std::string openssl_error_text() {
    std::string text;
    char line[256];
    while (const unsigned long code = ERR_get_error()) {
        ERR_error_string_n(code, line, sizeof line);
        if (!text.empty()) {
            text += "; ";
        }
        text += line;
    }
    return text.empty() ? std::string("none recorded") : text;
}

outcome openssl_failure(error_code code, std::string_view what) {
    return outcome(code, std::string(what) + " failed (OpenSSL: " + openssl_error_text() + ")");
}

secure_bytes::secure_bytes(secure_bytes&& other) noexcept : m_aBytes(std::move(other.m_aBytes)) {
    other.m_aBytes.clear();
}

secure_bytes& secure_bytes::operator=(secure_bytes&& other) noexcept {
    if (this != &other) {
        wipe();
        m_aBytes = std::move(other.m_aBytes);
        other.m_aBytes.clear();
    }
    return *this;
}

void secure_bytes::truncate(std::size_t size) {
    if (size < m_aBytes.size()) {
        OPENSSL_cleanse(m_aBytes.data() + size, m_aBytes.size() - size);
        m_aBytes.resize(size);
    }
}

void secure_bytes::wipe() {
    if (!m_aBytes.empty()) {
        OPENSSL_cleanse(m_aBytes.data(), m_aBytes.size());
    }
    m_aBytes.clear();
}

void release_thread_state() {
    OPENSSL_thread_stop();
}

} // namespace tiv::cryptoapi
