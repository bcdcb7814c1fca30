#include "crypto/crypto_provider.h"

#include <cstdio>
#include <string>
#include <utility>

#include "core/hex_text.h"
#include "crypto/session_key_types.h"
#include "crypto/tls_ticket_keys.h"
#include "log/activity_log.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "platform/crypto_backend/crypto_backend_random.h"
#include "platform/crypto_backend/crypto_backend_simple_blob.h"
#include "platform/paths.h"

namespace tiv {

namespace {
unsigned blob_bits(const std::vector<std::uint8_t>& blob) {
    return cryptoapi::claimed_key_bits(blob).value_or(0);
}

// A container that failed to open as the program has always worded it: the provider, the container, the provider
// type and the error number as GetLastError() gave it.
cryptoapi::outcome unexpected_open_failure(const std::string& container, cryptoapi::error_code error) {
    char text[512];
    std::snprintf(text, sizeof text, "Unexpected Error\r\nP[%s]\r\nC[%s] type %d\r\nGetLastError() returns: %d[0x%08x]",
                  "(null)", container.c_str(), 24, static_cast<int>(error), error);
    return {error, text};
}

cryptoapi::outcome no_open_container() {
    return {cryptoapi::bad_keyset, "no key container is open"};
}
} // namespace

crypto_provider::crypto_provider(std::string key_root, unsigned initial_key_bits)
    : m_strKeyRoot(std::move(key_root)), m_bDefaultRoot(m_strKeyRoot.empty()), m_nInitialKeyBits(initial_key_bits) {}

crypto_provider::~crypto_provider() = default;

std::uint32_t crypto_provider::available_key_types() {
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < session_key_type_count; ++i) {
        const auto* params =
            cryptoapi::find_session_cipher(session_key_types[i].algorithm, session_key_types[i].key_bits);
        if (params != nullptr && cryptoapi::session_cipher_available(*params)) {
            mask |= 1U << i;
        }
    }
    return mask;
}

cryptoapi::outcome crypto_provider::open_container(bool create) {
    cryptoapi::key_container container;
    cryptoapi::outcome opened = cryptoapi::key_container::open_in(m_strKeyRoot, m_strContainerName, container);
    if (!opened && opened.code() == cryptoapi::bad_keyset && create) {
        opened = cryptoapi::key_container::create_in(m_strKeyRoot, m_strContainerName, container);
        container_created = static_cast<bool>(opened);
    }
    provider_acquired = static_cast<bool>(opened);
    {
        std::lock_guard guard(m_oLock);
        // A container that is not there yet is no surprise: the caller says whether keys are lost or never made.
        m_oOpenFailure = opened || opened.code() == cryptoapi::bad_keyset
                             ? cryptoapi::outcome()
                             : unexpected_open_failure(m_strContainerName, opened.code());
        if (opened) {
            m_oContainer = std::move(container);
            return {};
        }
    }
    log_activity("Key container [%s] cannot be opened: %s", m_strContainerName.c_str(), opened.text().c_str());
    return opened;
}

cryptoapi::outcome crypto_provider::take_open_failure() {
    std::lock_guard guard(m_oLock);
    return std::exchange(m_oOpenFailure, cryptoapi::outcome());
}

void crypto_provider::open(std::uint32_t machine_key_types) {
    close();
    provider_acquired = false;
    container_created = false;
    signature_key_created = false;
    exchange_key_created = false;
    if (m_bDefaultRoot) {
        // Resolved at each open, so the root follows the home of the user being served.
        m_strKeyRoot = paths::key_container_root();
    }
    set_key_type_policy(machine_key_types);
    container_open = static_cast<bool>(open_container(false));
    if (container_open) {
        load_pairs();
    }
    refresh_ready();
}

rsa_key_ptr& crypto_provider::held_pair(cryptoapi::key_pair_kind kind) {
    return kind == cryptoapi::key_pair_kind::exchange ? m_pExchangeKey : m_pSignatureKey;
}

cryptoapi::key_file_stamp& crypto_provider::held_stamp(cryptoapi::key_pair_kind kind) {
    return kind == cryptoapi::key_pair_kind::exchange ? m_oExchangeStamp : m_oSignatureStamp;
}

cryptoapi::outcome crypto_provider::reload_pair(cryptoapi::key_pair_kind kind) {
    held_stamp(kind) = m_oContainer.stamp(kind);
    cryptoapi::rsa_key pair;
    const cryptoapi::outcome found = m_oContainer.get_key(kind, pair);
    held_pair(kind) = found ? std::make_shared<const cryptoapi::rsa_key>(std::move(pair)) : nullptr;
    return found;
}

void crypto_provider::load_pairs() {
    for (auto kind : {cryptoapi::key_pair_kind::signature, cryptoapi::key_pair_kind::exchange}) {
        cryptoapi::outcome found;
        {
            std::lock_guard guard(m_oLock);
            found = reload_pair(kind);
        }
        if (!found) {
            log_activity("Key pair file cannot be used: %s", found.text().c_str());
        }
    }
}

bool crypto_provider::take_up_replaced_keys() {
    if (!container_open) {
        return false;
    }
    bool replaced = false;
    for (auto kind : {cryptoapi::key_pair_kind::signature, cryptoapi::key_pair_kind::exchange}) {
        rsa_key_ptr retired;
        cryptoapi::outcome found;
        {
            std::lock_guard guard(m_oLock);
            if (m_oContainer.stamp(kind) == held_stamp(kind)) {
                continue;
            }
            retired = held_pair(kind);
            found = reload_pair(kind);
        }
        replaced = true;
        const char* name = kind == cryptoapi::key_pair_kind::exchange ? "exchange" : "signature";
        if (found) {
            log_activity("Key pair [%s] was replaced on disk; the new pair is in use", name);
        } else {
            log_activity("Key pair [%s] was replaced on disk and cannot be used: %s", name, found.text().c_str());
        }
        if (kind == cryptoapi::key_pair_kind::signature && retired != nullptr) {
            forget_ticket_keys(retired->get());
        }
    }
    if (replaced) {
        refresh_ready();
    }
    return replaced;
}

cryptoapi::outcome crypto_provider::open_or_create_container() {
    if (container_open) {
        return {};
    }
    cryptoapi::outcome opened = open_container(true);
    container_open = static_cast<bool>(opened);
    return opened;
}

cryptoapi::outcome crypto_provider::make_missing_pairs() {
    if (cryptoapi::outcome opened = open_or_create_container(); !opened) {
        return opened;
    }
    cryptoapi::outcome first_failure;
    for (auto kind : {cryptoapi::key_pair_kind::signature, cryptoapi::key_pair_kind::exchange}) {
        bool held = false;
        std::string unusable_file;
        {
            std::lock_guard guard(m_oLock);
            held = held_pair(kind) != nullptr;
            unusable_file = !held && m_oContainer.has_key(kind) ? m_oContainer.key_file_path(kind) : std::string();
        }
        if (held) {
            continue;
        }
        cryptoapi::outcome made;
        if (!unusable_file.empty()) {
            // A damaged or exposed file: it is the user's to replace, never silently ours.
            made = cryptoapi::outcome(cryptoapi::bad_key, "the key file " + unusable_file + " cannot be used");
        } else {
            made = kind == cryptoapi::key_pair_kind::exchange ? generate_exchange_key(m_nInitialKeyBits)
                                                              : generate_signature_key(m_nInitialKeyBits);
            (kind == cryptoapi::key_pair_kind::exchange ? exchange_key_created : signature_key_created) =
                static_cast<bool>(made);
        }
        if (!made && first_failure) {
            first_failure = made;
        }
    }
    refresh_ready();
    return first_failure;
}

void crypto_provider::set_key_type_policy(std::uint32_t machine_key_types) {
    const std::uint32_t available = available_key_types();
    for (std::size_t i = 0; i < session_key_type_count; ++i) {
        if ((machine_key_types & (1U << i)) != 0 && (available & (1U << i)) == 0) {
            log_activity("Session key type [%s] is not available here and is left out", session_key_types[i].name);
        }
    }
    allowed_key_types = machine_key_types & available;
}

void crypto_provider::refresh_ready() {
    ready = container_open && exchange_key() != nullptr && signature_key() != nullptr;
}

void crypto_provider::close() {
    std::lock_guard guard(m_oLock);
    m_pExchangeKey.reset();
    m_pSignatureKey.reset();
    m_oExchangeStamp = {};
    m_oSignatureStamp = {};
    m_oContainer = cryptoapi::key_container();
    ready = false;
    container_open = false;
}

cryptoapi::outcome crypto_provider::generate_pair(cryptoapi::key_pair_kind kind, unsigned bits) {
    if (!container_open) {
        return no_open_container();
    }
    if (!cryptoapi::is_user_key_bits(bits)) {
        return {cryptoapi::bad_flags,
                "a user key pair has 1024 to 16384 bits in steps of 256, not " + std::to_string(bits)};
    }
    // Generation takes seconds at these lengths; only storing the pair holds the lock.
    cryptoapi::rsa_key pair;
    if (cryptoapi::outcome generated = cryptoapi::rsa_key::generate(bits, pair); !generated) {
        return generated;
    }
    rsa_key_ptr retired;
    {
        std::lock_guard guard(m_oLock);
        if (cryptoapi::outcome stored = m_oContainer.replace_key(kind, pair); !stored) {
            return stored;
        }
        held_stamp(kind) = m_oContainer.stamp(kind);
        retired = std::exchange(held_pair(kind), std::make_shared<const cryptoapi::rsa_key>(std::move(pair)));
    }
    if (kind == cryptoapi::key_pair_kind::signature && retired != nullptr) {
        forget_ticket_keys(retired->get());
    }
    return {};
}

cryptoapi::outcome crypto_provider::generate_exchange_key(unsigned bits) {
    if (cryptoapi::outcome made = generate_pair(cryptoapi::key_pair_kind::exchange, bits); made) {
        return made;
    }
    return generate_pair(cryptoapi::key_pair_kind::exchange, default_key_bits);
}

cryptoapi::outcome crypto_provider::generate_signature_key(unsigned bits) {
    return generate_pair(cryptoapi::key_pair_kind::signature, bits);
}

rsa_key_ptr crypto_provider::exchange_key() const {
    std::lock_guard guard(m_oLock);
    return m_pExchangeKey;
}

rsa_key_ptr crypto_provider::signature_key() const {
    std::lock_guard guard(m_oLock);
    return m_pSignatureKey;
}

session_key_or crypto_provider::generate_session_key(std::uint32_t type_bit) {
    if ((type_bit & allowed_key_types) == 0) {
        return cryptoapi::outcome(cryptoapi::bad_algid, "the session key type is not allowed here");
    }
    if (!container_open) {
        return no_open_container();
    }
    const session_key_type& type = session_key_types[key_type_index(type_bit)];
    auto key = std::make_unique<cryptoapi::session_key>();
    if (cryptoapi::outcome made = cryptoapi::session_key::generate(type.algorithm, type.key_bits, *key); !made) {
        return made;
    }
    return key;
}

rsa_key_or crypto_provider::import_public_key(std::span<const std::uint8_t> blob) {
    if (!container_open) {
        return no_open_container();
    }
    if (blob.empty()) {
        return cryptoapi::outcome(cryptoapi::bad_len, "the public key blob is empty");
    }
    cryptoapi::rsa_key key;
    if (cryptoapi::outcome imported = cryptoapi::import_public_key_blob(blob, key); !imported) {
        return imported;
    }
    return std::make_shared<const cryptoapi::rsa_key>(std::move(key));
}

session_key_or crypto_provider::import_session_key(std::span<const std::uint8_t> blob) {
    const rsa_key_ptr exchange = exchange_key();
    if (!container_open) {
        return no_open_container();
    }
    if (blob.empty()) {
        return cryptoapi::outcome(cryptoapi::bad_len, "the session key blob is empty");
    }
    if (exchange == nullptr) {
        return cryptoapi::outcome(cryptoapi::no_key, "there is no exchange key to unwrap the session key with");
    }
    auto key = std::make_unique<cryptoapi::session_key>();
    if (cryptoapi::outcome unwrapped = cryptoapi::unwrap_simple_blob(blob, *exchange, *key); !unwrapped) {
        return unwrapped;
    }
    return key;
}

cryptoapi::outcome crypto_provider::export_public_key(const cryptoapi::rsa_key& key, std::uint32_t key_alg,
                                                      std::vector<std::uint8_t>& blob) {
    return cryptoapi::export_public_key_blob(key, key_alg, blob);
}

cryptoapi::outcome crypto_provider::export_session_key(const cryptoapi::session_key& key,
                                                       const cryptoapi::rsa_key& wrapping,
                                                       std::vector<std::uint8_t>& blob) {
    return cryptoapi::wrap_simple_blob(key, wrapping, blob);
}

cryptoapi::outcome crypto_provider::random(std::span<std::uint8_t> out) {
    return cryptoapi::random_bytes(out);
}

unsigned crypto_provider::key_text(const rsa_key_ptr& key, std::uint32_t key_alg, std::size_t bytes_per_line,
                                   std::string& text) {
    text.clear();
    std::vector<std::uint8_t> blob;
    if (key == nullptr || !export_public_key(*key, key_alg, blob)) {
        return 0;
    }
    if (hex_encode(blob, blob.size(), bytes_per_line, text) == 0) {
        return 0;
    }
    return blob_bits(blob);
}

unsigned crypto_provider::exchange_key_text(std::size_t bytes_per_line, std::string& text) {
    return key_text(exchange_key(), cryptoapi::calg_rsa_keyx, bytes_per_line, text);
}

unsigned crypto_provider::signature_key_text(std::string& text, std::size_t bytes_per_line) {
    return key_text(signature_key(), cryptoapi::calg_rsa_sign, bytes_per_line, text);
}

std::vector<std::uint8_t> crypto_provider::public_blob(const rsa_key_ptr& key, std::uint32_t key_alg) {
    std::vector<std::uint8_t> blob;
    if (key == nullptr || !export_public_key(*key, key_alg, blob)) {
        blob.clear();
    }
    return blob;
}

std::vector<std::uint8_t> crypto_provider::exchange_key_blob() {
    return public_blob(exchange_key(), cryptoapi::calg_rsa_keyx);
}

std::vector<std::uint8_t> crypto_provider::signature_key_blob() {
    return public_blob(signature_key(), cryptoapi::calg_rsa_sign);
}

std::string crypto_provider::key_directory() const {
    std::lock_guard guard(m_oLock);
    return container_open ? m_oContainer.directory() : std::string{};
}

crypto_provider& process_crypto_provider() {
    static crypto_provider provider;
    return provider;
}

} // namespace tiv
