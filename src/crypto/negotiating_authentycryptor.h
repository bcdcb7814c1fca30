#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/time_source.h"
#include "crypto/auth_records.h"
#include "crypto/authentycryptor.h"
#include "crypto/crypto_provider.h"
#include "crypto/rsa_authentycryptor.h"
#include "crypto/tls_channel.h"

namespace tiv {

class qvl_settings_data;

// Markers in the capability record's `reserved` field. A sender that can run the TLS exchange writes its marker;
// a receiver that chooses it answers with its own; an old receiver echoes the field unchanged, which the sender
// recognises as the old exchange. Markers only select: pins enforce.
//
// Version 6 lets a sender ask the receiving program itself, without a parcel: whether it runs (a login check), or
// to show the user a message.
//
// Version 5 lets a sender tell where it can be reached now, so that the receiver's stored profile follows it.
//
// Version 4 lets the sender of a parcel stream send further files before the receipts of earlier ones are back.
//
// Version 3 adds the parcel stream (see net/parcel_frames.h): many files and folders over one connection, and
// resuming a broken file.
//
// Version 2 adds the receipt: after the sender's end of file the receiver answers, inside TLS, whether it stored
// the file. Receivers of version 1 compare all six bytes at the start of the field, so a sender keeps its
// version-1 marker there and announces version 2 in the slot after it; a receiver answers with the version both
// sides announced, so a sender of version 1 reads the answer it always did. Both records are in the transcript
// both sides confirm, so a meddler cannot strike the announcement unnoticed.
namespace exchange_marker {
using bytes = std::array<std::uint8_t, 6>;
enum class side : std::uint8_t { sender = 'S', receiver = 'R' };

// "QVTS" or "QVTR", the version, and a zero.
constexpr bytes of(side who, std::uint8_t version) {
    return {'Q', 'V', 'T', static_cast<std::uint8_t>(who), version, 0};
}

// Where a sender announces `version`: each version in a slot of its own, the first at the start, so that a
// receiver of any older version still finds its own version where it looks. The answer's version is always at
// the start.
constexpr std::size_t slot_of(std::uint8_t version) {
    return bytes{}.size() * (version - 1U);
}
} // namespace exchange_marker

// The program's authenticator: after the capability records it runs either the TLS 1.3 exchange, pinned to
// the friend's signature key, or the old four-record exchange, for friends that have no pin and only while
// the machine's "LegacyExchange" allows it. With a pinned friend only the TLS exchange is accepted, in both
// directions, and no record of the old exchange ever crosses such a connection.
class negotiating_authentycryptor : public authentycryptor {
public:
    // What this side announces, numbered as the markers are. The program announces the newest; a peer of an older
    // version is played by announcing less.
    enum class version : std::uint8_t {
        without_receipt = 1,
        with_receipt,
        with_stream,
        pipelined,
        following,
        conversing
    };

    // `clock` tells whether a saved session has expired; it outlives this object and its clones.
    negotiating_authentycryptor(crypto_provider& provider, qvl_settings_data& settings,
                                version announced = version::with_receipt, const time_source& clock = real_time());
    ~negotiating_authentycryptor() override;

    [[nodiscard]] std::unique_ptr<authentycryptor> clone() const override;
    [[nodiscard]] bool AuthenticateAsSender(record_link& connection, const friend_profile& destination) override;
    [[nodiscard]] bool AuthenticateAsReceiver(record_link& connection, friend_profile& sender) override;
    [[nodiscard]] int block_allowance() const override;
    [[nodiscard]] bool encrypt(std::span<const std::uint8_t> data, bool final, std::vector<std::uint8_t>& out) override;
    [[nodiscard]] bool decrypt(std::span<const std::uint8_t> data, bool final, byte_buffer& out) override;
    [[nodiscard]] std::size_t encrypted_length(std::size_t plain_bytes) const override;
    // True after a TLS exchange in which both sides announced version 2.
    [[nodiscard]] bool carries_receipts() const override {
        return m_pTls != nullptr && m_nAgreed >= version::with_receipt;
    }
    // True after a TLS exchange in which both sides announced version 3.
    [[nodiscard]] bool carries_parcel_stream() const override {
        return m_pTls != nullptr && m_nAgreed >= version::with_stream;
    }
    // True after a TLS exchange in which both sides announced version 4.
    [[nodiscard]] bool carries_pipelining() const override {
        return m_pTls != nullptr && m_nAgreed >= version::pipelined;
    }
    // True after a TLS exchange in which both sides announced version 5.
    [[nodiscard]] bool carries_whereabouts() const override {
        return m_pTls != nullptr && m_nAgreed >= version::following;
    }
    // True after a TLS exchange in which both sides announced version 6.
    [[nodiscard]] bool carries_conversation() const override {
        return m_pTls != nullptr && m_nAgreed >= version::conversing;
    }
    [[nodiscard]] std::optional<whereabouts> own_whereabouts() const override;
    void follow_sender(const friend_profile& sender, const whereabouts& claim) const override;
    [[nodiscard]] bool reread_sender(friend_profile& sender) const override;
    [[nodiscard]] bool awaiting_peer_confirmation() const override { return m_oAwaitedConfirmation.has_value(); }

    // Which exchange the last authentication ran.
    [[nodiscard]] bool used_tls() const { return m_pTls != nullptr; }
    [[nodiscard]] std::uint32_t chosen_type() const { return m_nChosenType; }
    // Whether the last TLS exchange resumed a session of an earlier connection instead of a full handshake.
    [[nodiscard]] bool resumed() const { return m_pTls != nullptr && m_bResumed; }

private:
    // Now, as session expiry dates are written.
    [[nodiscard]] std::int64_t calendar_seconds() const {
        return static_cast<std::int64_t>(std::chrono::system_clock::to_time_t(m_oClock.calendar()));
    }
    [[nodiscard]] bool legacy_allowed() const;
    // The TLS side of the connection, made before the handshake runs: `suites` are those offered (the receiver
    // offers the one of the chosen type); a sender (`friend_uuid` given) offers the session saved with this friend
    // for `saved_suite`.
    [[nodiscard]] bool prepare_tls(tls_channel::role side, const std::vector<std::uint8_t>& pinned_blob,
                                   const char* suites, const char* prefix, const char* friend_uuid = nullptr,
                                   const char* saved_suite = nullptr);
    // The handshake on the prepared side, which must end in the chosen type's suite, and the transcript confirmed.
    [[nodiscard]] bool run_tls(record_link& connection, const auth::cap_bytes& offer, const auth::cap_bytes& answer,
                               const char* prefix);
    // The sender's first flight: its offer and, for a pinned friend, its ClientHello right behind it, so the
    // handshake does not wait a round trip for the answer. False when nothing went out.
    [[nodiscard]] bool send_offer(record_link& connection, const auth::cap_bytes& offer,
                                  const friend_profile& destination);
    [[nodiscard]] bool confirm_transcript(record_link& connection, const auth::cap_bytes& offer,
                                          const auth::cap_bytes& answer);
    // The sender's check of the receiver's confirmation, the first plaintext the receiver sends: moved out of
    // `plain` from `from` on. False when it differs.
    [[nodiscard]] bool take_confirmation(byte_buffer& plain, std::size_t from);
    // The session the receiver handed out, kept for the next connection.
    void keep_new_session();
    [[nodiscard]] bool sender_exchange(record_link& connection, const friend_profile& destination);
    [[nodiscard]] bool receiver_exchange(record_link& connection, friend_profile& sender);
    // Logged on both sides; the sender's transfer reports it as its reason.
    void no_common_type(const char* prefix);

    crypto_provider& m_oProvider;
    qvl_settings_data& m_oSettings;
    const time_source& m_oClock;
    std::unique_ptr<rsa_authentycryptor> m_pLegacy;
    std::unique_ptr<tls_channel> m_pTls;
    std::uint32_t m_nChosenType = 0;
    const version m_nAnnounced;
    version m_nAgreed = version::without_receipt;
    bool m_bResumed = false;
    // Where the session a sender offers, and the one it is handed, are kept.
    std::string m_strTicketDirectory;
    std::optional<cryptoapi::sha256_digest> m_oOfferedSlot;
    std::string m_strFriendUuid; // empty for a receiver, which keeps no sessions
    std::vector<std::uint8_t> m_aOwnBlob;
    std::vector<std::uint8_t> m_aPinnedBlob;
    // A sender does not wait for the receiver's confirmation before it sends: it checks it in the first bytes the
    // receiver sends, before any of them counts.
    std::optional<cryptoapi::sha256_digest> m_oAwaitedConfirmation;
    std::vector<std::uint8_t> m_aConfirmationSoFar;
};

} // namespace tiv
