#include "crypto/tls_channel.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "core/byte_fields.h"
#include "crypto/record_link.h"
#include "crypto/tls_ticket_keys.h"
#include "platform/crypto_backend/openssl_util.h"
#include "platform/crypto_backend/openssl_util_providers.h"

namespace tiv {

namespace {
constexpr std::size_t record_header_size = 5;
// A TLS 1.3 record carries at most 2^14 bytes of plaintext plus 256 of expansion.
constexpr std::size_t max_record_plaintext = 16384;
constexpr std::size_t max_record_body = max_record_plaintext + 256;
constexpr std::size_t min_read_room = 1024;
constexpr long certificate_days = 1;
// How long a session handed out stays good; the server's ticket keys live only as long as its process anyway.
constexpr long session_lifetime_seconds = 12 * 3600;

using x509_ptr = std::unique_ptr<X509, cryptoapi::detail::openssl_deleter<X509, X509_free>>;

int pinned_key_index() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int channel_index() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

bool is_key(const X509* certificate, const EVP_PKEY* pinned) {
    const EVP_PKEY* presented = certificate != nullptr ? X509_get0_pubkey(certificate) : nullptr;
    return presented != nullptr && pinned != nullptr && EVP_PKEY_eq(presented, pinned) == 1;
}

// Chains and trust anchors mean nothing here: the peer is who it claims exactly when its certificate carries
// the public key pinned for it (and the handshake proves it holds the private half).
int verify_pinned(int /*preverified*/, X509_STORE_CTX* store) {
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    const auto* pinned = static_cast<const EVP_PKEY*>(SSL_get_ex_data(ssl, pinned_key_index()));
    if (X509_STORE_CTX_get_error_depth(store) != 0) {
        return 1;
    }
    return is_key(X509_STORE_CTX_get_current_cert(store), pinned) ? 1 : 0;
}

x509_ptr self_signed(EVP_PKEY* key) {
    x509_ptr certificate(X509_new());
    if (certificate == nullptr || X509_set_version(certificate.get(), 2) != 1 ||
        ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1) != 1 ||
        X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -certificate_days * 86400) == nullptr ||
        X509_gmtime_adj(X509_getm_notAfter(certificate.get()), certificate_days * 86400) == nullptr ||
        X509_set_pubkey(certificate.get(), key) != 1) {
        return nullptr;
    }
    X509_NAME* name = X509_get_subject_name(certificate.get());
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Quorvel"), -1, -1,
                                   0) != 1 ||
        X509_set_issuer_name(certificate.get(), name) != 1 || X509_sign(certificate.get(), key, EVP_sha256()) == 0) {
        return nullptr;
    }
    return certificate;
}

// Making the certificate costs a private-key signature; reusing it for the key's later connections halves the RSA
// work of each handshake. A new key (after a rekey) or an old certificate makes a fresh one. One entry per key, so
// transfers of different identities in one process (tests, a rekey) never free a certificate another is using.
x509_ptr certificate_for(EVP_PKEY* key) {
    constexpr auto renew_after = std::chrono::hours(12);
    constexpr std::size_t keys_kept = 16;
    struct entry {
        cryptoapi::pkey_ptr key;
        x509_ptr certificate;
        std::chrono::steady_clock::time_point made;
    };
    static std::mutex lock;
    static std::deque<entry> cache;
    std::lock_guard guard(lock);
    const auto now = std::chrono::steady_clock::now();
    auto found =
        std::find_if(cache.begin(), cache.end(), [key](const entry& e) { return EVP_PKEY_eq(e.key.get(), key) == 1; });
    if (found == cache.end() || now - found->made > renew_after) {
        x509_ptr fresh = self_signed(key);
        if (fresh == nullptr || EVP_PKEY_up_ref(key) != 1) {
            return nullptr;
        }
        if (found != cache.end()) {
            cache.erase(found);
        } else if (cache.size() == keys_kept) {
            cache.pop_front();
        }
        cache.push_back({cryptoapi::pkey_ptr(key), std::move(fresh), now});
        found = std::prev(cache.end());
    }
    X509_up_ref(found->certificate.get());
    return x509_ptr(found->certificate.get());
}

cryptoapi::pkey_ptr public_copy(const EVP_PKEY* key) {
    EVP_PKEY* copy = EVP_PKEY_dup(const_cast<EVP_PKEY*>(key));
    return cryptoapi::pkey_ptr(copy);
}
} // namespace

const char* tls_suite_for(std::uint32_t type_bit) {
    return type_bit == 0x200 ? "TLS_AES_128_GCM_SHA256" : "TLS_AES_256_GCM_SHA384";
}

tls_channel::~tls_channel() {
    SSL_SESSION_free(m_pNewSession);
    SSL_free(m_pSsl);
    SSL_CTX_free(m_pContext);
}

std::unique_ptr<tls_channel> tls_channel::make(role side, const cryptoapi::rsa_key& own,
                                               const cryptoapi::rsa_key& pinned_peer, const char* suite,
                                               std::string& error) {
    (void)cryptoapi::load_providers();
    std::unique_ptr<tls_channel> channel(new tls_channel());
    channel->m_pPinned = public_copy(pinned_peer.get());
    channel->m_pContext = SSL_CTX_new(side == role::client ? TLS_client_method() : TLS_server_method());
    x509_ptr certificate = own ? certificate_for(own.get()) : nullptr;
    if (channel->m_pPinned == nullptr || channel->m_pContext == nullptr || certificate == nullptr) {
        error = "cannot prepare TLS: " + cryptoapi::openssl_error_text();
        return nullptr;
    }
    SSL_CTX* context = channel->m_pContext;
    // Users may choose keys down to 1024 bits (with a warning); the system's default level would refuse them.
    SSL_CTX_set_security_level(context, 1);
    if (SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) != 1 || SSL_CTX_set_ciphersuites(context, suite) != 1 ||
        SSL_CTX_use_certificate(context, certificate.get()) != 1 || SSL_CTX_use_PrivateKey(context, own.get()) != 1 ||
        SSL_CTX_check_private_key(context) != 1 || !channel->configure_sessions(side, own, error)) {
        error = "cannot configure TLS: " + (error.empty() ? cryptoapi::openssl_error_text() : error);
        return nullptr;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, verify_pinned);
    channel->m_pSsl = SSL_new(context);
    BIO* wire = channel->m_oWire.give_bio();
    if (channel->m_pSsl == nullptr || wire == nullptr ||
        SSL_set_ex_data(channel->m_pSsl, pinned_key_index(), channel->m_pPinned.get()) != 1 ||
        SSL_set_ex_data(channel->m_pSsl, channel_index(), channel.get()) != 1) {
        BIO_free(wire);
        error = "cannot start TLS: " + cryptoapi::openssl_error_text();
        return nullptr;
    }
    SSL_set_bio(channel->m_pSsl, wire, wire);
    if (side == role::client) {
        SSL_set_connect_state(channel->m_pSsl);
    } else {
        SSL_set_accept_state(channel->m_pSsl);
    }
    return channel;
}

bool tls_channel::configure_sessions(role side, const cryptoapi::rsa_key& own, std::string& error) {
    SSL_CTX* context = m_pContext;
    if (side == role::client) {
        // Sessions go to the caller, who decides where they may be offered again; OpenSSL keeps none itself.
        SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(context, &tls_channel::on_new_session);
        return true;
    }
    // A session opens only where the same peer is pinned: OpenSSL refuses one made under another context, so a
    // session handed to one friend never resumes as another, before the certificate check after the handshake.
    unsigned char* der = nullptr;
    const int der_size = i2d_PUBKEY(m_pPinned.get(), &der);
    cryptoapi::sha256_digest context_id{};
    const bool hashed =
        der_size > 0 && cryptoapi::sha256(std::span(der, static_cast<std::size_t>(der_size)), context_id);
    OPENSSL_free(der);
    tls_ticket_keys keys{};
    const bool keyed = ticket_keys_for(own.get(), keys);
    const bool configured =
        hashed && keyed &&
        SSL_CTX_set_session_id_context(context, context_id.data(), static_cast<unsigned>(context_id.size())) == 1 &&
        SSL_CTX_set_tlsext_ticket_keys(context, keys.data(), static_cast<long>(keys.size())) == 1 &&
        SSL_CTX_set_num_tickets(context, 1) == 1;
    OPENSSL_cleanse(keys.data(), keys.size());
    if (!configured) {
        error = "cannot prepare resumable sessions: " + cryptoapi::openssl_error_text();
        return false;
    }
    SSL_CTX_set_timeout(context, session_lifetime_seconds);
    return true;
}

int tls_channel::on_new_session(SSL* ssl, SSL_SESSION* session) {
    auto* channel = static_cast<tls_channel*>(SSL_get_ex_data(ssl, channel_index()));
    if (channel == nullptr) {
        return 0;
    }
    SSL_SESSION_free(channel->m_pNewSession);
    channel->m_pNewSession = session;
    return 1; // the reference is ours now
}

bool tls_channel::offer_session(std::span<const std::uint8_t> saved) {
    const unsigned char* at = saved.data();
    SSL_SESSION* session = d2i_SSL_SESSION(nullptr, &at, static_cast<long>(saved.size()));
    const bool usable =
        session != nullptr && at == saved.data() + saved.size() && SSL_SESSION_is_resumable(session) == 1 &&
        is_key(SSL_SESSION_get0_peer(session), m_pPinned.get()) && SSL_set_session(m_pSsl, session) == 1;
    SSL_SESSION_free(session);
    ERR_clear_error();
    return usable;
}

bool tls_channel::resumed() const {
    return SSL_session_reused(m_pSsl) == 1;
}

std::optional<session_ticket> tls_channel::take_new_session() {
    if (m_pNewSession == nullptr) {
        return std::nullopt;
    }
    session_ticket ticket;
    const int size = i2d_SSL_SESSION(m_pNewSession, nullptr);
    if (size > 0) {
        ticket.session.resize(static_cast<std::size_t>(size));
        unsigned char* at = ticket.session.data();
        if (i2d_SSL_SESSION(m_pNewSession, &at) != size) {
            ticket.session.clear();
        }
    }
    ticket.expires = static_cast<std::int64_t>(SSL_SESSION_get_time(m_pNewSession)) +
                     static_cast<std::int64_t>(SSL_SESSION_get_timeout(m_pNewSession));
    SSL_SESSION_free(m_pNewSession);
    m_pNewSession = nullptr;
    if (ticket.session.empty()) {
        return std::nullopt;
    }
    return ticket;
}

bool tls_channel::peer_is_pinned() const {
    return is_key(SSL_get0_peer_certificate(m_pSsl), m_pPinned.get());
}

bool tls_channel::flush(record_link& link) {
    std::vector<std::uint8_t> wire;
    m_oWire.take_output(wire);
    return wire.empty() || link.send_bytes(wire);
}

bool tls_channel::read_record(record_link& link) {
    std::uint8_t header[record_header_size];
    if (!link.receive_bytes(header)) {
        return false;
    }
    const std::size_t length = get_be16(header + 3);
    if (length == 0 || length > max_record_body) {
        return false;
    }
    std::vector<std::uint8_t> body(length);
    if (!link.receive_bytes(body)) {
        return false;
    }
    m_oWire.queue(header);
    m_oWire.queue(body);
    return true;
}

bool tls_channel::start(std::vector<std::uint8_t>& wire) {
    const int result = SSL_do_handshake(m_pSsl);
    if (result != 1 && SSL_get_error(m_pSsl, result) != SSL_ERROR_WANT_READ) {
        ERR_clear_error();
        return false;
    }
    m_oWire.take_output(wire);
    return true;
}

std::string tls_channel::negotiated_suite() const {
    const SSL_CIPHER* cipher = SSL_get_current_cipher(m_pSsl);
    return cipher != nullptr ? SSL_CIPHER_get_name(cipher) : "";
}

bool tls_channel::handshake(record_link& link, std::string& error) {
    for (;;) {
        const int result = SSL_do_handshake(m_pSsl);
        if (!flush(link)) {
            error = "the connection failed during the TLS handshake";
            return false;
        }
        if (result == 1) {
            // A resumed session skipped the certificate callback; the certificate it carries must still be the pin.
            if (!peer_is_pinned()) {
                m_bPeerKeyRefused = true;
                error = "the peer's certificate does not carry the pinned key";
                return false;
            }
            // OpenSSL offers and accepts only psk_dhe_ke; should that ever change, a session without a fresh key
            // exchange is refused rather than used.
            if (resumed() && SSL_get_negotiated_group(m_pSsl) == 0) {
                error = "the resumed session ran without a fresh key exchange";
                return false;
            }
            return true;
        }
        if (SSL_get_error(m_pSsl, result) != SSL_ERROR_WANT_READ) {
            // verify_pinned fails only on a key other than the pinned one.
            m_bPeerKeyRefused = ERR_GET_REASON(ERR_peek_error()) == SSL_R_CERTIFICATE_VERIFY_FAILED;
            error = cryptoapi::openssl_error_text();
            return false;
        }
        if (!read_record(link)) {
            error = "the connection ended during the TLS handshake";
            return false;
        }
    }
}

bool tls_channel::send_message(record_link& link, std::span<const std::uint8_t> message) {
    std::vector<std::uint8_t> wire;
    return seal(message, wire) && link.send_bytes(wire);
}

bool tls_channel::receive_message(record_link& link, std::size_t size, byte_buffer& message) {
    message.clear();
    while (message.size() < size) {
        if (!read_record(link) || !open({}, message) || m_bPeerClosed) {
            return false;
        }
    }
    return message.size() == size;
}

bool tls_channel::seal(std::span<const std::uint8_t> plain, std::vector<std::uint8_t>& wire) {
    std::size_t done = 0;
    while (done < plain.size()) {
        std::size_t written = 0;
        if (SSL_write_ex(m_pSsl, plain.data() + done, plain.size() - done, &written) != 1) {
            ERR_clear_error();
            return false;
        }
        done += written;
    }
    m_oWire.take_output(wire);
    return true;
}

bool tls_channel::close(std::vector<std::uint8_t>& wire) {
    // 0 means our close_notify went out and the peer's has not come: all a one-way stream needs.
    if (SSL_shutdown(m_pSsl) < 0) {
        ERR_clear_error();
        return false;
    }
    m_oWire.take_output(wire);
    return true;
}

bool tls_channel::open(std::span<const std::uint8_t> wire, byte_buffer& plain) {
    if (!wire.empty() && m_bPeerClosed) {
        return false; // nothing may follow the end of the stream
    }
    const tls_wire::loan lent(m_oWire, wire);
    // Records open straight into the caller's buffer, in pieces no larger than what came (a record's plaintext is
    // shorter than the record), so a connection of small messages keeps a small buffer; what does not fit is read
    // on the next turn.
    const std::size_t room = std::clamp(wire.size(), min_read_room, max_record_plaintext);
    for (;;) {
        const std::size_t at = plain.size();
        plain.resize(at + room);
        std::size_t got = 0;
        const bool opened = SSL_read_ex(m_pSsl, plain.data() + at, room, &got) == 1;
        plain.resize(at + (opened ? got : 0));
        if (opened) {
            continue;
        }
        const int reason = SSL_get_error(m_pSsl, 0);
        ERR_clear_error();
        if (reason == SSL_ERROR_WANT_READ) {
            return true;
        }
        if (reason == SSL_ERROR_ZERO_RETURN) {
            m_bPeerClosed = true;
            return true;
        }
        return false;
    }
}

} // namespace tiv
