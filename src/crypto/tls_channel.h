#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/byte_buffer.h"
#include "crypto/session_ticket_file.h"
#include "crypto/tls_wire.h"
#include "platform/crypto_backend/crypto_backend_rsa.h"

struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;

namespace tiv {

class record_link;

// One TLS 1.3 session over a connection that the program already reads and writes itself. The handshake and
// short confirmations go straight over the link, reading whole TLS records only, so not one byte past them is
// taken from the link; afterwards the transfer runs the same session over memory: `seal` turns plaintext into
// the bytes to send, `open` turns received bytes into plaintext.
//
// Each side presents a self-signed certificate of its own key and accepts the peer only when the peer's
// certificate carries exactly the pinned public key; no certificate authority takes part.
//
// A client may offer a session saved from an earlier connection with the same server: resuming it skips both
// sides' private-key signatures. The session still carries the peer's certificate, which is checked against the
// pin as after a full handshake, and the key exchange still runs ECDHE (psk_dhe_ke), so a recorded session stays
// secret even to someone who later learns the saved session. A server that cannot open the session (restarted,
// re-keyed, or an older program that hands out none) simply makes a full handshake.
class tls_channel {
public:
    enum class role { client, server };

    ~tls_channel();
    tls_channel(const tls_channel&) = delete;
    tls_channel& operator=(const tls_channel&) = delete;

    // `suite` is a TLS 1.3 cipher suite name, the only one offered or accepted; a client may offer several, separated
    // by ':', and then checks negotiated_suite() itself.
    [[nodiscard]] static std::unique_ptr<tls_channel> make(role side, const cryptoapi::rsa_key& own,
                                                           const cryptoapi::rsa_key& pinned_peer, const char* suite,
                                                           std::string& error);

    // Client, before the handshake: offers a session saved with take_new_session(). A session that does not parse
    // or was not made with the pinned peer is not offered (false).
    [[nodiscard]] bool offer_session(std::span<const std::uint8_t> saved);
    // Client: the first flight of the handshake (the ClientHello), to send with what goes before it; handshake()
    // then goes on from there.
    [[nodiscard]] bool start(std::vector<std::uint8_t>& wire);
    [[nodiscard]] bool handshake(record_link& link, std::string& error);
    // After the handshake: the cipher suite it runs.
    [[nodiscard]] std::string negotiated_suite() const;
    // After the handshake: whether it resumed an earlier session instead of running in full.
    [[nodiscard]] bool resumed() const;
    // Client: the session the server handed out on this connection (it arrives with the server's first message
    // after the handshake), to offer on the next; none when the server handed out none.
    [[nodiscard]] std::optional<session_ticket> take_new_session();
    // After a failed handshake: whether it failed because the peer presented another key than the pinned one.
    [[nodiscard]] bool peer_key_refused() const { return m_bPeerKeyRefused; }
    // One message in one record straight over the link, and the peer's next message of exactly `size` bytes.
    [[nodiscard]] bool send_message(record_link& link, std::span<const std::uint8_t> message);
    [[nodiscard]] bool receive_message(record_link& link, std::size_t size, byte_buffer& message);

    // Appends the bytes that carry `plain` to `wire`.
    [[nodiscard]] bool seal(std::span<const std::uint8_t> plain, std::vector<std::uint8_t>& wire);
    // Appends the close_notify alert that ends the stream.
    [[nodiscard]] bool close(std::vector<std::uint8_t>& wire);
    // Appends what `wire` completes of the peer's records; false on a forged or malformed record.
    [[nodiscard]] bool open(std::span<const std::uint8_t> wire, byte_buffer& plain);
    // True once the peer's close_notify has been read: its stream ended where it meant to.
    [[nodiscard]] bool peer_closed() const { return m_bPeerClosed; }

    // Bytes a record adds to its plaintext: header, content type and AEAD tag.
    static constexpr std::size_t record_overhead = 5 + 1 + 16;

private:
    tls_channel() = default;
    bool flush(record_link& link);
    bool read_record(record_link& link);
    bool configure_sessions(role side, const cryptoapi::rsa_key& own, std::string& error);
    [[nodiscard]] bool peer_is_pinned() const;
    static int on_new_session(ssl_st* ssl, ssl_session_st* session);

    ssl_ctx_st* m_pContext = nullptr;
    ssl_st* m_pSsl = nullptr;
    tls_wire m_oWire;
    cryptoapi::pkey_ptr m_pPinned;
    ssl_session_st* m_pNewSession = nullptr;
    bool m_bPeerClosed = false;
    bool m_bPeerKeyRefused = false;
};

// The TLS 1.3 cipher suite a session key type selects: AES 128 the 128-bit suite, AES 192 and 256 the 256-bit one.
[[nodiscard]] const char* tls_suite_for(std::uint32_t type_bit);

} // namespace tiv
