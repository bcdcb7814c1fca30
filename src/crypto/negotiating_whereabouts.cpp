// The part of the exchange that lets a stored friend's address follow the friend: what a sender says of itself,
// and what a receiver does with what its friend said.
#include "core/address_text.h"
#include "core/text.h"
#include "crypto/negotiating_authentycryptor.h"
#include "log/activity_log.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv {

std::optional<whereabouts> negotiating_authentycryptor::own_whereabouts() const {
    if (!carries_whereabouts()) {
        return std::nullopt;
    }
    const std::string host = m_oSettings.text(text_setting::external_name);
    const std::uint32_t port = m_oSettings.number(number_setting::listening_port);
    // A wildcard names no one place: a friend could not reach it any more than a profile exported with it.
    if (host.empty() || host == "0.0.0.0" || host == "::" || host.size() > max_whereabouts_host ||
        address_fault(host) || !is_valid_listening_port(port)) {
        return std::nullopt;
    }
    return whereabouts{host, static_cast<std::uint16_t>(port)};
}

void negotiating_authentycryptor::follow_sender(const friend_profile& sender, const whereabouts& claim) const {
    if (!carries_whereabouts() ||
        read_dword_setting(m_oSettings.user_key(), names::follow_friend_addresses).value_or(1) == 0) {
        return;
    }
    friend_profile stored = sender;
    if (!reread_sender(stored) || (claim.host == stored.address && claim.port == stored.port)) {
        return;
    }
    const std::string now = endpoint_words(claim.host, claim.port);
    if (claim.host.size() >= sizeof stored.address) {
        log_activity("R::%s's address stays %s: %s is longer than a stored address can be", stored.name,
                     endpoint_words(stored.address, static_cast<std::uint32_t>(stored.port)).c_str(), now.c_str());
        return;
    }
    const std::string before = endpoint_words(stored.address, static_cast<std::uint32_t>(stored.port));
    copy_text_field(stored.address, claim.host);
    stored.port = claim.port;
    if (!save_profile(m_oSettings, stored)) {
        log_activity("R::%s's address stays %s: the profile could not be stored", stored.name, before.c_str());
        return;
    }
    const std::string words = std::string(stored.name) + "'s address changed from " + before + " to " + now;
    log_activity("%s", words.c_str());
    (void)note_address_change(m_oSettings, stored.name, words); // only Friend Status misses it
}

} // namespace tiv
