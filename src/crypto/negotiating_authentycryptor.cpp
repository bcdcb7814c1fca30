#include "crypto/negotiating_authentycryptor.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "crypto/session_key_types.h"
#include "crypto/session_ticket_cache.h"
#include "log/activity_log.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "platform/crypto_backend/crypto_backend_random.h"
#include "platform/uuid.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv {

namespace {
bool has_marker(const auth::cap_record& cap, exchange_marker::side who, std::uint8_t version, std::size_t at = 0) {
    const exchange_marker::bytes marker = exchange_marker::of(who, version);
    return std::equal(marker.begin(), marker.end(), cap.reserved.begin() + static_cast<std::ptrdiff_t>(at));
}

void put_marker(auth::cap_record& cap, exchange_marker::side who, std::uint8_t version, std::size_t at = 0) {
    const exchange_marker::bytes marker = exchange_marker::of(who, version);
    std::copy(marker.begin(), marker.end(), cap.reserved.begin() + static_cast<std::ptrdiff_t>(at));
}

// Both sides hash the two capability records as they sent and received them; a meddler who changed a marker
// or an offer in transit leaves the two hashes different.
cryptoapi::sha256_digest transcript(const auth::cap_bytes& offer, const auth::cap_bytes& answer) {
    std::vector<std::uint8_t> both(offer.begin(), offer.end());
    both.insert(both.end(), answer.begin(), answer.end());
    cryptoapi::sha256_digest digest{};
    (void)cryptoapi::sha256(both, digest);
    return digest;
}
} // namespace

negotiating_authentycryptor::negotiating_authentycryptor(crypto_provider& provider, qvl_settings_data& settings,
                                                         version announced, const time_source& clock)
    : m_oProvider(provider), m_oSettings(settings), m_oClock(clock), m_nAnnounced(announced) {}

negotiating_authentycryptor::~negotiating_authentycryptor() = default;

std::unique_ptr<authentycryptor> negotiating_authentycryptor::clone() const {
    return std::make_unique<negotiating_authentycryptor>(m_oProvider, m_oSettings, m_nAnnounced, m_oClock);
}

bool negotiating_authentycryptor::legacy_allowed() const {
    return read_dword_setting(m_oSettings.machine_key(), names::legacy_exchange).value_or(1) != 0;
}

void negotiating_authentycryptor::no_common_type(const char* prefix) {
    fail_because(auth_failure::no_common_key_type);
    log_activity("%s::Authenticating FAILED->no mutually acceptable key types", prefix);
}

bool negotiating_authentycryptor::confirm_transcript(record_link& connection, const auth::cap_bytes& offer,
                                                     const auth::cap_bytes& answer) {
    const cryptoapi::sha256_digest mine = transcript(offer, answer);
    byte_buffer theirs;
    return m_pTls->send_message(connection, mine) && m_pTls->receive_message(connection, mine.size(), theirs) &&
           std::equal(mine.begin(), mine.end(), theirs.begin(), theirs.end());
}

// The sender (`friend_uuid` given) offers the session saved with this friend under these keys, and saves the one
// the receiver hands out; the receiver's side of resumption lives in the TLS server itself.
bool negotiating_authentycryptor::prepare_tls(tls_channel::role side, const std::vector<std::uint8_t>& pinned_blob,
                                              const char* suites, const char* prefix, const char* friend_uuid,
                                              const char* saved_suite) {
    m_bResumed = false;
    m_oOfferedSlot.reset();
    m_oAwaitedConfirmation.reset();
    m_strFriendUuid = friend_uuid != nullptr ? friend_uuid : "";
    m_aPinnedBlob = pinned_blob;
    m_aOwnBlob.clear();
    cryptoapi::rsa_key pinned;
    const rsa_key_ptr own = m_oProvider.signature_key();
    if (own == nullptr || !cryptoapi::import_public_key_blob(pinned_blob, pinned) ||
        !cryptoapi::export_public_key_blob(*own, cryptoapi::calg_rsa_sign, m_aOwnBlob)) {
        log_activity("%s::Authenticating FAILED->pinned signature key unusable", prefix);
        return false;
    }
    std::string error;
    m_pTls = tls_channel::make(side, *own, pinned, suites, error);
    if (m_pTls == nullptr) {
        log_activity("%s::Authenticating FAILED->TLS handshake: %s", prefix, error.c_str());
        return false;
    }
    if (!m_strFriendUuid.empty()) {
        m_strTicketDirectory = m_oProvider.key_directory();
        const ticket_slot slot = ticket_slot_for(m_strFriendUuid, m_aPinnedBlob, m_aOwnBlob, saved_suite);
        if (const auto saved = find_session_ticket(m_strTicketDirectory, slot, calendar_seconds())) {
            if (m_pTls->offer_session(saved->session)) {
                m_oOfferedSlot = slot;
            }
        }
    }
    return true;
}

bool negotiating_authentycryptor::run_tls(record_link& connection, const auth::cap_bytes& offer,
                                          const auth::cap_bytes& answer, const char* prefix) {
    std::string error;
    const std::string suite = tls_suite_for(m_nChosenType);
    const bool shook = m_pTls->handshake(connection, error);
    if (shook && m_pTls->negotiated_suite() != suite) {
        error = "the peer chose " + m_pTls->negotiated_suite() + " where the agreed key type runs " + suite;
    }
    if (!shook || !error.empty()) {
        log_activity("%s::Authenticating FAILED->TLS handshake: %s", prefix, error.c_str());
        // The sender can act on this one: the profile it holds is out of date.
        if (!m_strFriendUuid.empty() && m_pTls->peer_key_refused()) {
            fail_because(auth_failure::peer_keys_changed);
            log_activity("%s::Authenticating FAILED->the receiver's signature key is not the pinned one", prefix);
        }
        if (m_oOfferedSlot) {
            forget_session_ticket(m_strTicketDirectory, *m_oOfferedSlot);
        }
        m_pTls.reset();
        return false;
    }
    // The sender's data follows its confirmation at once; the receiver's confirmation is checked when it comes,
    // before the receipt it precedes. Without receipts nothing the receiver sends is read: the sender waits for it.
    const bool sender = !m_strFriendUuid.empty() && m_nAgreed >= version::with_receipt;
    const bool confirmed = sender ? m_pTls->send_message(connection, transcript(offer, answer))
                                  : confirm_transcript(connection, offer, answer);
    if (!confirmed) {
        if (sender) {
            // Its side of the handshake was done: the receiver hung up on it, refusing the exchange.
            fail_because(auth_failure::exchange_refused);
            log_activity("%s::Authenticating FAILED->the receiver ended the connection", prefix);
        } else {
            log_activity("%s::Authenticating FAILED->capability records differ", prefix);
        }
        if (m_oOfferedSlot) {
            forget_session_ticket(m_strTicketDirectory, *m_oOfferedSlot);
        }
        m_pTls.reset();
        return false;
    }
    if (sender) {
        m_oAwaitedConfirmation = transcript(offer, answer);
        m_aConfirmationSoFar.clear();
    }
    m_bResumed = m_pTls->resumed();
    if (m_bResumed) {
        log_activity("%s::TLS session resumed", prefix);
    }
    log_activity("%s::Authenticating SUCCEEDED (TLS 1.3, %s)", prefix, suite.c_str());
    return true;
}

bool negotiating_authentycryptor::send_offer(record_link& connection, const auth::cap_bytes& offer,
                                             const friend_profile& destination) {
    std::vector<std::uint8_t> flight(offer.begin(), offer.end());
    if (destination.pinned()) {
        // Every suite an agreed AES type may select; the session kept is the one of the type this side would pick.
        const std::uint32_t likely = choose_key_type(m_oProvider.allowed_key_types & aes_session_key_types);
        std::vector<std::uint8_t> hello;
        if (!prepare_tls(tls_channel::role::client, destination.signature_key,
                         "TLS_AES_256_GCM_SHA384:TLS_AES_128_GCM_SHA256", "S", destination.uuid,
                         tls_suite_for(likely)) ||
            !m_pTls->start(hello)) {
            m_pTls.reset();
        } else {
            flight.insert(flight.end(), hello.begin(), hello.end());
        }
    }
    return connection.send_bytes(flight);
}

bool negotiating_authentycryptor::AuthenticateAsSender(record_link& connection, const friend_profile& destination) {
    begin_authentication();
    // A rekey by another process counts from this connection on, not from this program's next start.
    m_oProvider.take_up_replaced_keys();
    const bool succeeded = sender_exchange(connection, destination);
    if (!succeeded) {
        m_pTls.reset(); // a side prepared with the offer carries nothing once the exchange failed
    }
    return conclude(succeeded);
}

bool negotiating_authentycryptor::sender_exchange(record_link& connection, const friend_profile& destination) {
    m_pTls.reset();
    m_pLegacy.reset();
    m_nAgreed = version::without_receipt;
    log_activity("S::Authenticating [%s]", destination.name);

    auth::cap_record cap;
    cap.key_types = m_oProvider.allowed_key_types;
    // Every version up to the announced one, each in its own slot: a receiver answers with the highest it knows.
    static_assert(exchange_marker::slot_of(static_cast<std::uint8_t>(version::conversing)) +
                          exchange_marker::bytes{}.size() <=
                      auth::reserved_size,
                  "the newest version's marker must fit in the reserved field");
    const auto announced = static_cast<std::uint8_t>(m_nAnnounced);
    for (std::uint8_t offered = 1; offered <= announced; ++offered) {
        put_marker(cap, exchange_marker::side::sender, offered, exchange_marker::slot_of(offered));
    }
    if (const auto own = uuid_from_text(m_oSettings.text(text_setting::user_uuid))) {
        cap.user_uuid = uuid_to_guid_bytes(*own);
    }
    const auth::cap_bytes offer = cap.encode();
    auth::cap_bytes answer{};
    if (!send_offer(connection, offer, destination)) {
        log_activity("S::Authenticating FAILED->bad send oSessionKeyCapRecord record length");
        return false;
    }
    if (connection.receive(answer) != static_cast<int>(auth::cap_record_size)) {
        log_activity("S::Authenticating FAILED->bad recv oSessionKeyCapRecord record length");
        return false;
    }
    const auth::cap_record reply = auth::cap_record::decode(answer);

    std::uint8_t answered = announced;
    while (answered > 0 && !has_marker(reply, exchange_marker::side::receiver, answered)) {
        --answered;
    }
    if (answered > 0) {
        m_nAgreed = static_cast<version>(answered);
        if (!destination.pinned()) {
            log_activity("S::Authenticating FAILED->no signature key on file for [%s]", destination.name);
            return false;
        }
        m_nChosenType = choose_key_type(m_oProvider.allowed_key_types & reply.key_types & aes_session_key_types);
        if (m_nChosenType == 0) {
            no_common_type("S");
            return false;
        }
        log_activity("S::Key type chosen: [%s]", key_type_name(m_nChosenType));
        // Prepared with the offer; a pinned key that cannot be used was logged then.
        return m_pTls != nullptr && run_tls(connection, offer, answer, "S");
    }

    // The receiver answered with the old exchange.
    m_pTls.reset();
    if (destination.pinned()) {
        fail_because(auth_failure::peer_unpinned);
        log_activity("S::Authenticating FAILED->[%s] is pinned; the legacy exchange is refused", destination.name);
        return false;
    }
    if (!legacy_allowed()) {
        log_activity("S::Authenticating FAILED->the legacy exchange is disabled on this machine");
        return false;
    }
    log_activity("S::Legacy exchange with [%s]", destination.name);
    m_pLegacy = std::make_unique<rsa_authentycryptor>(m_oProvider, m_oSettings);
    bool result = true;
    const rsa_key_ptr destination_key = m_pLegacy->import_profile_key(destination);
    if (destination_key == nullptr) {
        log_activity("S::Authenticating FAILED->importing public key");
        result = false;
    }
    m_nChosenType = choose_key_type(m_oProvider.allowed_key_types & reply.key_types);
    if (m_nChosenType == 0) {
        no_common_type("S");
        result = false;
    } else {
        log_activity("S::Key type chosen: [%s]", key_type_name(m_nChosenType));
    }
    const bool passed = m_pLegacy->sender_passes(connection, destination_key, m_nChosenType, result);
    if (!passed && m_pLegacy->last_failure() != auth_failure::none) {
        fail_because(m_pLegacy->last_failure());
    }
    return passed;
}

bool negotiating_authentycryptor::AuthenticateAsReceiver(record_link& connection, friend_profile& sender) {
    begin_authentication();
    m_oProvider.take_up_replaced_keys();
    return conclude(receiver_exchange(connection, sender));
}

bool negotiating_authentycryptor::reread_sender(friend_profile& sender) const {
    const std::optional<uuid_value> id = uuid_from_text(sender.uuid);
    if (!id) {
        return false;
    }
    friend_profile now;
    // By its name first, a single look; a friend renamed since is found by its id.
    bool found =
        look_up_profile(m_oSettings, sender.name, now) == profile_lookup::found && uuid_from_text(now.uuid) == id;
    for (const std::string& holder : found ? std::vector<std::string>{} : profiles_with_uuid(m_oSettings, *id)) {
        now = friend_profile{};
        if (look_up_profile(m_oSettings, holder, now) == profile_lookup::found) {
            found = true;
            break;
        }
    }
    if (!found || now.signature_key != sender.signature_key) {
        return false;
    }
    sender = std::move(now);
    return true;
}

bool negotiating_authentycryptor::receiver_exchange(record_link& connection, friend_profile& sender) {
    m_pTls.reset();
    m_pLegacy.reset();
    m_nAgreed = version::without_receipt;
    sender = friend_profile{};

    auth::cap_bytes offer{};
    const int got = connection.receive(offer);
    if (got != static_cast<int>(auth::cap_record_size)) {
        log_activity("R::Authenticating FAILED->bad recv oSessionKeyCapRecord record length (%d/%d)", got,
                     static_cast<int>(auth::cap_record_size));
        return false;
    }
    auth::cap_record cap = auth::cap_record::decode(offer);
    bool result = true;
    if (!find_profile_by_uuid(m_oSettings, uuid_from_guid_bytes(cap.user_uuid.data()), sender)) {
        log_activity("R::Authenticating FAILED->profile retrieval");
        sender = friend_profile{};
        result = false;
    }
    log_activity("R::Authenticating [%s]", sender.name);
    const bool offered_tls = has_marker(cap, exchange_marker::side::sender, 1);

    if (sender.pinned()) {
        if (!offered_tls) {
            // Refused before any block of the old exchange is read, let alone unwrapped.
            log_activity("R::Authenticating FAILED->[%s] is pinned; the legacy exchange is refused", sender.name);
            return false;
        }
        m_nChosenType = choose_key_type(sender.encryption_methods & cap.key_types & m_oProvider.allowed_key_types &
                                        aes_session_key_types);
        if (m_nChosenType == 0) {
            no_common_type("R");
        } else {
            log_activity("R::Key type chosen: [%s]", key_type_name(m_nChosenType));
        }
        // The answer names the highest version both sides announced.
        std::uint8_t agreed = static_cast<std::uint8_t>(m_nAnnounced);
        while (agreed > 1 &&
               !has_marker(cap, exchange_marker::side::sender, agreed, exchange_marker::slot_of(agreed))) {
            --agreed;
        }
        m_nAgreed = static_cast<version>(agreed);
        cap.key_types = m_nChosenType;
        put_marker(cap, exchange_marker::side::receiver, agreed);
        const auth::cap_bytes answer = cap.encode();
        if (!connection.send(answer)) {
            log_activity("R::Authenticating FAILED->bad send oSessionKeyCapRecord record length");
            return false;
        }
        return m_nChosenType != 0 &&
               prepare_tls(tls_channel::role::server, sender.signature_key, tls_suite_for(m_nChosenType), "R") &&
               run_tls(connection, offer, answer, "R");
    }

    if (!legacy_allowed()) {
        log_activity("R::Authenticating FAILED->the legacy exchange is disabled on this machine");
        return false;
    }
    log_activity("R::Legacy exchange with [%s]", sender.name);
    m_nChosenType = choose_key_type(sender.encryption_methods & cap.key_types & m_oProvider.allowed_key_types);
    if (m_nChosenType == 0) {
        no_common_type("R");
        result = false;
    }
    result = send_legacy_capability_answer(connection, cap, m_nChosenType) && result;
    m_pLegacy = std::make_unique<rsa_authentycryptor>(m_oProvider, m_oSettings);
    return m_pLegacy->receiver_passes(connection, sender, m_nChosenType, result);
}

int negotiating_authentycryptor::block_allowance() const {
    return m_pLegacy != nullptr ? m_pLegacy->block_allowance() : 1;
}

bool negotiating_authentycryptor::encrypt(std::span<const std::uint8_t> data, bool final,
                                          std::vector<std::uint8_t>& out) {
    if (m_pTls != nullptr) {
        // A completed message with no data is the end of the stream: TLS says so with close_notify.
        return final && data.empty() ? m_pTls->close(out) : m_pTls->seal(data, out);
    }
    return m_pLegacy != nullptr && m_pLegacy->encrypt(data, final, out);
}

void negotiating_authentycryptor::keep_new_session() {
    if (const auto fresh = m_pTls->take_new_session()) {
        keep_session_ticket(m_strTicketDirectory,
                            ticket_slot_for(m_strFriendUuid, m_aPinnedBlob, m_aOwnBlob, tls_suite_for(m_nChosenType)),
                            *fresh, calendar_seconds());
    }
}

bool negotiating_authentycryptor::take_confirmation(byte_buffer& plain, std::size_t from) {
    const std::size_t wanted = m_oAwaitedConfirmation->size() - m_aConfirmationSoFar.size();
    const std::size_t taken = std::min(wanted, plain.size() - from);
    const auto first = plain.begin() + static_cast<std::ptrdiff_t>(from);
    m_aConfirmationSoFar.insert(m_aConfirmationSoFar.end(), first, first + static_cast<std::ptrdiff_t>(taken));
    plain.erase(first, first + static_cast<std::ptrdiff_t>(taken));
    if (m_aConfirmationSoFar.size() < m_oAwaitedConfirmation->size()) {
        return true;
    }
    if (!std::equal(m_aConfirmationSoFar.begin(), m_aConfirmationSoFar.end(), m_oAwaitedConfirmation->begin(),
                    m_oAwaitedConfirmation->end())) {
        // Still awaited: nothing of this connection counts.
        log_activity("S::Authenticating FAILED->capability records differ");
        if (m_oOfferedSlot) {
            forget_session_ticket(m_strTicketDirectory, *m_oOfferedSlot);
        }
        return false;
    }
    m_oAwaitedConfirmation.reset();
    keep_new_session();
    return true;
}

bool negotiating_authentycryptor::decrypt(std::span<const std::uint8_t> data, bool final, byte_buffer& out) {
    if (m_pTls != nullptr) {
        const std::size_t from = out.size();
        if (!m_pTls->open(data, out) || (m_oAwaitedConfirmation && !take_confirmation(out, from))) {
            return false;
        }
        // At the end of the stream only a close_notify proves nothing was cut off, and only after the confirmation.
        return !(final && data.empty()) || (m_pTls->peer_closed() && !m_oAwaitedConfirmation);
    }
    return m_pLegacy != nullptr && m_pLegacy->decrypt(data, final, out);
}

std::size_t negotiating_authentycryptor::encrypted_length(std::size_t plain_bytes) const {
    if (m_pTls != nullptr) {
        constexpr std::size_t max_fragment = 16384;
        const std::size_t records = plain_bytes == 0 ? 0 : (plain_bytes + max_fragment - 1) / max_fragment;
        return plain_bytes + records * tls_channel::record_overhead;
    }
    return m_pLegacy != nullptr ? m_pLegacy->encrypted_length(plain_bytes) : 0;
}

} // namespace tiv
