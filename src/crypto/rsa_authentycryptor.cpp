#include "crypto/rsa_authentycryptor.h"

#include <algorithm>
#include <cstring>

#include "crypto/session_key_types.h"
#include "log/activity_log.h"
#include "platform/uuid.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"

namespace tiv {

namespace {
constexpr std::size_t comparison_size = 256;
constexpr char comparison_pattern[] = "0123456789ABCDEF0123456789ABCDEF";

// One step of the exchange: a failed step logs its line and fails the whole. The exchange still sends and reads
// every record after a failure, so that neither end is left waiting for a record that never comes.
void note_step(bool passed, const char* failure, bool& result) {
    if (!passed) {
        log_activity("%s", failure);
        result = false;
    }
}

bool is_agreed_type(const cryptoapi::session_key& key, std::uint32_t chosen) {
    if (chosen == 0 || !key) {
        return false;
    }
    const session_key_type& agreed = session_key_types[key_type_index(chosen)];
    return key.params().alg_id == agreed.algorithm && key.params().key_bits == agreed.key_bits;
}
} // namespace

rsa_authentycryptor::rsa_authentycryptor(crypto_provider& provider, qvl_settings_data& settings)
    : m_oProvider(provider), m_oSettings(settings) {}

rsa_authentycryptor::~rsa_authentycryptor() = default;

std::unique_ptr<authentycryptor> rsa_authentycryptor::clone() const {
    return std::make_unique<rsa_authentycryptor>(m_oProvider, m_oSettings);
}

rsa_key_ptr rsa_authentycryptor::import_profile_key(const friend_profile& profile) {
    if (!m_oProvider.container_open || profile.key_bytes <= 0 || profile.key.data == nullptr ||
        profile.key_bytes > profile.key.size) {
        return nullptr;
    }
    rsa_key_or imported = m_oProvider.import_public_key(
        std::span<const std::uint8_t>(profile.key.data, static_cast<std::size_t>(profile.key_bytes)));
    return imported ? std::move(imported.value()) : nullptr;
}

auth::pass_record rsa_authentycryptor::fresh_pass_record(std::uint16_t pass) {
    auth::pass_record record;
    record.pass = pass;
    // Unused blob space carries random bytes, never leftovers of memory.
    (void)m_oProvider.random(record.a.blob);
    (void)m_oProvider.random(record.b.blob);
    return record;
}

bool rsa_authentycryptor::export_into(const cryptoapi::session_key* key, const cryptoapi::rsa_key* wrapping,
                                      auth::key_block& block) {
    std::vector<std::uint8_t> blob;
    if (key == nullptr || wrapping == nullptr || !m_oProvider.export_session_key(*key, *wrapping, blob).ok() ||
        blob.size() > auth::blob_area_size) {
        return false;
    }
    block.type_index = static_cast<std::uint16_t>(key_type_index(m_nChosenType));
    block.key_bits = key_type_bits(m_nChosenType);
    block.blob_length = static_cast<std::uint16_t>(blob.size());
    std::copy(blob.begin(), blob.end(), block.blob.begin());
    return true;
}

session_key_ptr rsa_authentycryptor::import_block(const auth::key_block& block, const char* side) {
    // A claimed length beyond the block is refused before anything is read.
    if (!m_oProvider.container_open || block.blob_length == 0 || block.blob_length > auth::blob_area_size) {
        return nullptr;
    }
    session_key_or imported =
        m_oProvider.import_session_key(std::span<const std::uint8_t>(block.blob.data(), block.blob_length));
    session_key_ptr key = imported ? std::move(imported.value()) : nullptr;
    // The blob names its own cipher; taking it at its word would let a peer pick a type that neither the friend's
    // key types nor this machine's policy allow.
    if (key != nullptr && !is_agreed_type(*key, m_nChosenType)) {
        log_activity("%s::Authenticating FAILED->session key type differs from the agreed [%s]", side,
                     m_nChosenType != 0 ? key_type_name(m_nChosenType) : "none");
        return nullptr;
    }
    return key;
}

session_key_ptr rsa_authentycryptor::new_session_key(std::uint32_t chosen) {
    if (chosen == 0) {
        return nullptr;
    }
    session_key_or made = m_oProvider.generate_session_key(chosen);
    return made ? std::move(made.value()) : nullptr;
}

bool rsa_authentycryptor::keys_match(cryptoapi::session_key* encrypting, cryptoapi::session_key* decrypting) {
    if (encrypting == nullptr || decrypting == nullptr) {
        return false;
    }
    std::vector<std::uint8_t> plain(comparison_size);
    for (std::size_t i = 0; i < comparison_size; ++i) {
        plain[i] = static_cast<std::uint8_t>(comparison_pattern[i % 32]);
    }
    std::vector<std::uint8_t> encrypted;
    byte_buffer decrypted;
    const cryptoapi::outcome sealed = encrypting->encrypt(plain, true, encrypted);
    const cryptoapi::outcome opened = decrypting->decrypt(encrypted, true, decrypted);
    return sealed && opened && std::ranges::equal(decrypted, plain);
}

bool rsa_authentycryptor::AuthenticateAsSender(record_link& connection, const friend_profile& destination) {
    begin_authentication();
    bool result = true;
    log_activity("S::Authenticating [%s]", destination.name);

    const rsa_key_ptr destination_key = import_profile_key(destination);
    note_step(destination_key != nullptr, "S::Authenticating FAILED->importing public key", result);

    auth::cap_record cap;
    cap.key_types = m_oProvider.allowed_key_types;
    if (const auto own = uuid_from_text(m_oSettings.text(text_setting::user_uuid))) {
        cap.user_uuid = uuid_to_guid_bytes(*own);
    }
    note_step(connection.send(cap.encode()), "S::Authenticating FAILED->bad send oSessionKeyCapRecord record length",
              result);
    auth::cap_bytes answer{};
    const bool answered = connection.receive(answer) == static_cast<int>(auth::cap_record_size);
    note_step(answered, "S::Authenticating FAILED->bad recv oSessionKeyCapRecord record length", result);

    // Without the receiver's answer there is nothing to agree on.
    m_nChosenType =
        answered ? choose_key_type(m_oProvider.allowed_key_types & auth::cap_record::decode(answer).key_types) : 0;
    if (m_nChosenType == 0) {
        if (answered) {
            fail_because(auth_failure::no_common_key_type);
            log_activity("S::Authenticating FAILED->no mutually acceptable key types");
        }
        result = false;
    } else {
        log_activity("S::Key type chosen: [%s]", key_type_name(m_nChosenType));
    }
    return conclude(sender_passes(connection, destination_key, m_nChosenType, result));
}

bool rsa_authentycryptor::sender_passes(record_link& connection, const rsa_key_ptr& destination_key,
                                        std::uint32_t chosen, bool result) {
    m_nChosenType = chosen;
    auth::pass_record pass1 = fresh_pass_record(1);
    m_nAllowance = key_type_allowance(m_nChosenType);
    session_key_ptr own_key = new_session_key(m_nChosenType);
    note_step(own_key != nullptr, "S::Authenticating FAILED->create session key", result);
    note_step(export_into(own_key.get(), destination_key.get(), pass1.a),
              "S::Authenticating FAILED->export session key", result);
    note_step(connection.send(pass1.encode()), "S::Authenticating FAILED->bad ARPass1 record length", result);

    auth::pass_bytes pass2_bytes{};
    note_step(connection.receive(pass2_bytes) == static_cast<int>(auth::pass_record_size),
              "S::Authenticating FAILED->bad ARPass2 record length", result);
    const auth::pass_record pass2 = auth::pass_record::decode(pass2_bytes);
    session_key_ptr returned_own_key = import_block(pass2.a, "S");
    if (returned_own_key == nullptr) {
        log_activity("S::Authenticating FAILED->P2::import sender key");
        // An empty block: the receiver could not unwrap what was sent to it. A block that is there but cannot be
        // unwrapped here was wrapped for a key of ours the receiver holds wrongly, which the log tells.
        if (result && pass2.a.blob_length == 0) {
            fail_because(auth_failure::exchange_refused);
        }
        result = false;
    }
    session_key_ptr receiver_key = import_block(pass2.b, "S");
    note_step(receiver_key != nullptr, "S::Authenticating FAILED->P2::import m_oReceiverKey key", result);

    auth::pass_record pass3 = fresh_pass_record(3);
    note_step(export_into(receiver_key.get(), destination_key.get(), pass3.b),
              "S::Authenticating FAILED->P2::Export hReceiverKey key", result);
    auth::key_block discarded;
    note_step(export_into(returned_own_key.get(), destination_key.get(), discarded),
              "S::Authenticating FAILED->P2::Reexport hReturnedSenderKey key", result);
    note_step(connection.send(pass3.encode()), "S::Authenticating FAILED->bad ARPass3 record length", result);

    if (!keys_match(own_key.get(), returned_own_key.get())) {
        log_activity("S::Authenticating FAILED->key comparison");
        result = false;
    } else if (result) {
        log_activity("S::Authenticating SUCCEEDED");
    }
    m_pSessionKey = std::move(own_key);
    return result;
}

bool send_legacy_capability_answer(record_link& connection, auth::cap_record& cap, std::uint32_t chosen) {
    if (chosen != 0) {
        log_activity("R::Key type chosen: [%s]", key_type_name(chosen));
    }
    cap.key_types = chosen;
    if (!connection.send(cap.encode())) {
        log_activity("R::Authenticating FAILED->bad send oSessionKeyCapRecord record length");
        return false;
    }
    return true;
}

bool rsa_authentycryptor::AuthenticateAsReceiver(record_link& connection, friend_profile& sender) {
    begin_authentication();
    bool result = true;
    sender = friend_profile{}; // a failed look-up must leave no allowed types and no key behind

    auth::cap_bytes cap_bytes{};
    const int got = connection.receive(cap_bytes);
    const bool offered = got == static_cast<int>(auth::cap_record_size);
    if (!offered) {
        log_activity("R::Authenticating FAILED->bad recv oSessionKeyCapRecord record length (%d/%d)", got,
                     static_cast<int>(auth::cap_record_size));
        result = false;
    }
    auth::cap_record cap = auth::cap_record::decode(cap_bytes);
    if (!offered || !find_profile_by_uuid(m_oSettings, uuid_from_guid_bytes(cap.user_uuid.data()), sender)) {
        log_activity("R::Authenticating FAILED->profile retrieval");
        result = false;
        sender = friend_profile{};
    }
    log_activity("R::Authenticating [%s]", sender.name);

    m_nChosenType = choose_key_type(sender.encryption_methods & cap.key_types & m_oProvider.allowed_key_types);
    if (m_nChosenType == 0) {
        if (offered) {
            fail_because(auth_failure::no_common_key_type);
            log_activity("R::Authenticating FAILED->no mutually acceptable key types");
        }
        result = false;
    }
    result = send_legacy_capability_answer(connection, cap, m_nChosenType) && result;
    return conclude(receiver_passes(connection, sender, m_nChosenType, result));
}

bool rsa_authentycryptor::receiver_passes(record_link& connection, const friend_profile& sender, std::uint32_t chosen,
                                          bool result) {
    m_nChosenType = chosen;
    auth::pass_bytes pass1_bytes{};
    note_step(connection.receive(pass1_bytes) == static_cast<int>(auth::pass_record_size),
              "R::Authenticating FAILED->bad ARPass1 record length", result);
    const auth::pass_record pass1 = auth::pass_record::decode(pass1_bytes);
    const rsa_key_ptr sender_key = import_profile_key(sender);
    note_step(sender_key != nullptr, "R::Authenticating FAILED->importing public key", result);
    m_nAllowance = key_type_allowance(m_nChosenType);
    session_key_ptr own_key = new_session_key(m_nChosenType);
    note_step(own_key != nullptr, "R::Authenticating FAILED->creating session key", result);
    session_key_ptr sender_session_key = import_block(pass1.a, "R");
    note_step(sender_session_key != nullptr, "R::Authenticating FAILED->P2::importing m_oSenderKey", result);

    auth::pass_record pass2 = fresh_pass_record(2);
    note_step(export_into(sender_session_key.get(), sender_key.get(), pass2.a),
              "R::Authenticating FAILED->P2::exporting hSenderKey", result);
    note_step(export_into(own_key.get(), sender_key.get(), pass2.b),
              "R::Authenticating FAILED->P2::exporting hReceiverKey", result);
    note_step(connection.send(pass2.encode()), "R::Authenticating FAILED->bad ARPass2 record length", result);

    auth::pass_bytes pass3_bytes{};
    note_step(connection.receive(pass3_bytes) == static_cast<int>(auth::pass_record_size),
              "R::Authenticating FAILED->bad ARPass3 record length", result);
    const auth::pass_record pass3 = auth::pass_record::decode(pass3_bytes);
    session_key_ptr returned_own_key = import_block(pass3.b, "R");
    note_step(returned_own_key != nullptr, "R::Authenticating FAILED->P3::importing m_oReceiverKey", result);
    auth::key_block discarded;
    note_step(export_into(returned_own_key.get(), sender_key.get(), discarded),
              "R::Authenticating FAILED->P3::exporting hReturnedReceiverKey", result);

    // A sender that hands back our own wrapped key unchanged proves nothing.
    const bool echoed = pass3.b.type_index == pass2.b.type_index && pass3.b.key_bits == pass2.b.key_bits &&
                        pass3.b.blob_length == pass2.b.blob_length &&
                        std::memcmp(pass3.b.blob.data(), pass2.b.blob.data(),
                                    std::min<std::size_t>(pass2.b.blob_length, auth::blob_area_size)) == 0;
    if (echoed || !keys_match(own_key.get(), returned_own_key.get())) {
        log_activity("R::Authenticating FAILED->key comparison");
        result = false;
    } else if (result) {
        log_activity("R::Authenticating SUCCEEDED");
    }
    m_pSessionKey = std::move(sender_session_key);
    return result;
}

bool rsa_authentycryptor::encrypt(std::span<const std::uint8_t> data, bool final, std::vector<std::uint8_t>& out) {
    if (m_pSessionKey == nullptr) {
        return false;
    }
    return m_pSessionKey->encrypt(data, final, out).ok();
}

bool rsa_authentycryptor::decrypt(std::span<const std::uint8_t> data, bool final, byte_buffer& out) {
    if (m_pSessionKey == nullptr) {
        return false;
    }
    return m_pSessionKey->decrypt(data, final, out).ok();
}

std::size_t rsa_authentycryptor::encrypted_length(std::size_t plain_bytes) const {
    return m_pSessionKey != nullptr ? m_pSessionKey->encrypted_length(plain_bytes) : 0;
}

} // namespace tiv
