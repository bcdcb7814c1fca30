#pragma once

#include "crypto/auth_records.h"
#include "crypto/authentycryptor.h"
#include "crypto/crypto_provider.h"
#include "crypto/record_link.h"

namespace tiv {

class qvl_settings_data;

// The receiver's answer to a capability offer: `chosen` (logged when there is one) in the offer's key types, the
// rest as it came, so a new sender reads the old exchange from it. False when it could not be sent.
[[nodiscard]] bool send_legacy_capability_answer(record_link& connection, auth::cap_record& cap, std::uint32_t chosen);

// The four-record exchange: each side proves it holds the private half of the RSA exchange key the other
// side has on file for it, and both end with the sender's session key of the agreed type.
//
// Both sides perform every step whatever failed before, each failure writing its log line, so the two stay
// in step and all four records cross. Once the connection itself fails, though, the remaining sends and
// receives are not attempted (their lines are still logged): waiting out a receive time-out per record on a
// dead connection would only delay the failure.
class rsa_authentycryptor : public authentycryptor {
public:
    rsa_authentycryptor(crypto_provider& provider, qvl_settings_data& settings);
    ~rsa_authentycryptor() override;

    [[nodiscard]] std::unique_ptr<authentycryptor> clone() const override;
    [[nodiscard]] bool AuthenticateAsSender(record_link& connection, const friend_profile& destination) override;
    [[nodiscard]] bool AuthenticateAsReceiver(record_link& connection, friend_profile& sender) override;
    [[nodiscard]] int block_allowance() const override { return m_nAllowance; }
    [[nodiscard]] bool encrypt(std::span<const std::uint8_t> data, bool final, std::vector<std::uint8_t>& out) override;
    [[nodiscard]] bool decrypt(std::span<const std::uint8_t> data, bool final, byte_buffer& out) override;
    [[nodiscard]] std::size_t encrypted_length(std::size_t plain_bytes) const override;

    // The agreed type bit after an authentication (0 when none was agreed).
    [[nodiscard]] std::uint32_t chosen_type() const { return m_nChosenType; }

    // The three passes after the capability records, for a caller that exchanged those itself. `result` is
    // what the steps before gave; the return value is the whole exchange's.
    [[nodiscard]] bool sender_passes(record_link& connection, const rsa_key_ptr& destination_key, std::uint32_t chosen,
                                     bool result);
    [[nodiscard]] bool receiver_passes(record_link& connection, const friend_profile& sender, std::uint32_t chosen,
                                       bool result);
    // The destination's exchange key from its profile; none (and the "importing public key" line) on failure.
    [[nodiscard]] rsa_key_ptr import_profile_key(const friend_profile& profile);

private:
    auth::pass_record fresh_pass_record(std::uint16_t pass);
    bool export_into(const cryptoapi::session_key* key, const cryptoapi::rsa_key* wrapping, auth::key_block& block);
    // None when the block cannot be unwrapped or holds a key of another type than the agreed one.
    session_key_ptr import_block(const auth::key_block& block, const char* side);
    // A session key of the agreed type; none when no type was agreed or it could not be made.
    session_key_ptr new_session_key(std::uint32_t chosen);
    bool keys_match(cryptoapi::session_key* encrypting, cryptoapi::session_key* decrypting);

    crypto_provider& m_oProvider;
    qvl_settings_data& m_oSettings;
    session_key_ptr m_pSessionKey;
    int m_nAllowance = 1;
    std::uint32_t m_nChosenType = 0;
};

} // namespace tiv
