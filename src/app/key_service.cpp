#include "app/key_service.h"

#include "app/identity_service.h"

namespace tiv::app {

bool is_offered_key_length(unsigned bits) {
    return is_valid_user_key_length(bits);
}

unsigned key_strength(unsigned bits) {
    return estimated_strength(bits);
}

std::vector<key_warning> rekey_questions(unsigned bits) {
    return rekey_warnings(bits);
}

status open_keys_for_rekey(qvl_settings_data& settings, crypto_provider& provider) {
    if (status known = require_identity(settings); !known) {
        return known;
    }
    provider.open(settings.number(number_setting::machine_key_types));
    if (!provider.container_open) {
        return {status_code::keys_unavailable, "the key container cannot be opened, so no keys were replaced."};
    }
    return {};
}

rekey_report rekey(crypto_provider& provider, unsigned bits) {
    rekey_report report;
    if (!provider.container_open) {
        report.outcome = {status_code::keys_unavailable,
                          "the key container cannot be opened, so no keys were replaced."};
        return report;
    }
    const rekey_outcome made = replace_user_keys(provider, bits);
    report.signature_bits = made.signature_bits;
    report.exchange_bits = made.exchange_bits;
    report.signature_message = made.signature_message;
    report.exchange_message = made.exchange_message;
    if (!made.signature_made() || !made.exchange_made()) {
        report.outcome = {status_code::keys_unavailable, "a key pair could not be made; the old pair stays in place."};
    }
    return report;
}

status set_key_type_policy(qvl_settings_data& settings, crypto_provider& provider, std::uint32_t mask) {
    if (status saved = save_setting(settings, number_setting::machine_key_types, mask); !saved) {
        return saved;
    }
    provider.set_key_type_policy(mask);
    return {};
}

public_key_text exchange_key_text(crypto_provider& provider, std::size_t bytes_per_line) {
    public_key_text key;
    key.bits = provider.exchange_key_text(bytes_per_line, key.text);
    return key;
}

public_key_text signature_key_text(crypto_provider& provider, std::size_t bytes_per_line) {
    public_key_text key;
    key.bits = provider.signature_key_text(key.text, bytes_per_line);
    return key;
}

} // namespace tiv::app
