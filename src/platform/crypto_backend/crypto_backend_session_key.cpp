#include "platform/crypto_backend/crypto_backend_session_key.h"

#include <algorithm>
#include <bit>

#include <openssl/core_names.h>
#include <openssl/rand.h>

#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv::cryptoapi {

namespace {
// OpenSSL counts lengths in int; longer inputs go through in pieces of this size.
constexpr std::size_t max_piece = std::size_t(1) << 30;

bool is_des_family(std::uint32_t alg_id) {
    return alg_id == calg_des || alg_id == calg_3des_112 || alg_id == calg_3des;
}

// DES keys carry a parity bit in bit 0 of each byte. DES ignores it, but CryptGenKey sets odd parity,
// so our keys look like the ones Windows makes.
void set_odd_parity(secure_bytes& key) {
    for (std::size_t i = 0; i < key.size(); ++i) {
        std::uint8_t& byte = key.data()[i];
        byte = std::uint8_t((byte & 0xFE) | ((std::popcount(unsigned(byte & 0xFE)) + 1) % 2));
    }
}
} // namespace

outcome session_key::generate(std::uint32_t alg_id, unsigned key_bits, session_key& out) {
    load_providers();
    const session_cipher_params* params = find_session_cipher(alg_id, key_bits);
    if (params == nullptr) {
        return outcome(bad_algid, "no session key type with algorithm " + std::to_string(alg_id) + " and " +
                                      std::to_string(key_bits) + " bits");
    }
    secure_bytes key(params->key_bytes);
    if (RAND_priv_bytes(key.data(), int(key.size())) != 1) {
        return openssl_failure(failure, "RAND_priv_bytes");
    }
    if (is_des_family(alg_id)) {
        set_odd_parity(key);
    }
    session_key made;
    if (outcome ready = made.make(*params, {key.data(), key.size()}); !ready) {
        return ready;
    }
    out = std::move(made);
    return {};
}

outcome session_key::from_key_bytes(std::uint32_t alg_id, std::span<const std::uint8_t> key, session_key& out) {
    load_providers();
    const session_cipher_params* params = find_session_cipher_by_key_bytes(alg_id, key.size());
    if (params == nullptr) {
        return outcome(bad_data, "a key of " + std::to_string(key.size()) + " bytes fits no session key type of " +
                                     "algorithm " + std::to_string(alg_id));
    }
    session_key made;
    if (outcome ready = made.make(*params, key); !ready) {
        return ready;
    }
    out = std::move(made);
    return {};
}

std::size_t session_key::encrypted_length(std::size_t plain_bytes) const {
    const std::size_t block = m_pSpec != nullptr ? m_pSpec->block_size : 1;
    return block == 1 ? plain_bytes : (plain_bytes / block + 1) * block;
}

outcome session_key::make(const session_cipher_params& params, std::span<const std::uint8_t> key) {
    std::string why;
    if (!session_cipher_available(params, &why)) {
        return outcome(bad_algid, why);
    }
    m_pCipher.reset(EVP_CIPHER_fetch(nullptr, params.openssl_name, nullptr));
    m_pEncrypt.reset(EVP_CIPHER_CTX_new());
    m_pDecrypt.reset(EVP_CIPHER_CTX_new());
    if (!m_pCipher || !m_pEncrypt || !m_pDecrypt) {
        return openssl_failure(failure, std::string("preparing ") + params.openssl_name);
    }
    m_pSpec = &params;
    m_aKey = secure_bytes(key.data(), key.size());
    if (outcome ready = restart(m_pEncrypt.get(), 1); !ready) {
        return ready;
    }
    return restart(m_pDecrypt.get(), 0);
}

outcome session_key::restart(EVP_CIPHER_CTX* ctx, int encrypting) {
    static constexpr std::uint8_t zero_iv[16] = {};
    secure_bytes keyed(m_aKey.size() + m_pSpec->salt_bytes);
    std::copy(m_aKey.data(), m_aKey.data() + m_aKey.size(), keyed.data());
    // The key length and RC2's effective bits must be set before the key: given together with it they
    // arrive too late and the schedule is made for the cipher's default length.
    std::size_t rc2_bits = m_pSpec->rc2_effective_bits;
    const OSSL_PARAM rc2_params[] = {OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_RC2_KEYBITS, &rc2_bits),
                                     OSSL_PARAM_construct_end()};
    if (EVP_CipherInit_ex2(ctx, m_pCipher.get(), nullptr, nullptr, encrypting, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_key_length(ctx, int(keyed.size())) != 1 ||
        (rc2_bits != 0 && EVP_CIPHER_CTX_set_params(ctx, rc2_params) != 1) ||
        EVP_CipherInit_ex2(ctx, nullptr, keyed.data(), zero_iv, encrypting, nullptr) != 1) {
        return openssl_failure(failure, std::string("keying ") + m_pSpec->openssl_name);
    }
    return {};
}

template <typename Buffer>
outcome session_key::run(EVP_CIPHER_CTX* ctx, int encrypting, std::span<const std::uint8_t> data, bool final,
                         Buffer& out) {
    if (m_pSpec == nullptr) {
        return outcome(bad_key, "no session key");
    }
    const std::size_t start = out.size();
    const std::size_t block = m_pSpec->block_size;
    for (std::size_t done = 0; done < data.size();) {
        const std::size_t piece = std::min(data.size() - done, max_piece);
        const std::size_t at = out.size();
        out.resize(at + piece + block);
        int written = 0;
        if (EVP_CipherUpdate(ctx, out.data() + at, &written, data.data() + done, int(piece)) != 1) {
            out.resize(start);
            outcome failed = openssl_failure(failure, encrypting != 0 ? "encrypting" : "decrypting");
            (void)restart(ctx, encrypting);
            return failed;
        }
        out.resize(at + std::size_t(written));
        done += piece;
    }
    if (!final) {
        return {};
    }
    const std::size_t at = out.size();
    out.resize(at + block);
    int written = 0;
    const bool completed = EVP_CipherFinal_ex(ctx, out.data() + at, &written) == 1;
    out.resize(completed ? at + std::size_t(written) : start);
    outcome result = completed ? outcome()
                               : openssl_failure(encrypting != 0 ? failure : bad_data,
                                                 encrypting != 0 ? "completing the encryption"
                                                                 : "completing the decryption (padding or length)");
    // Completion restarts the key whether or not it succeeded, as CryptDecrypt does after bad padding.
    if (outcome restarted = restart(ctx, encrypting); !restarted && result) {
        return restarted;
    }
    return result;
}

outcome session_key::encrypt(std::span<const std::uint8_t> data, bool final, std::vector<std::uint8_t>& out) {
    return run(m_pEncrypt.get(), 1, data, final, out);
}

outcome session_key::decrypt(std::span<const std::uint8_t> data, bool final, byte_buffer& out) {
    return run(m_pDecrypt.get(), 0, data, final, out);
}

} // namespace tiv::cryptoapi
