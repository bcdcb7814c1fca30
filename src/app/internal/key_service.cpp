#include "app/internal/key_service.h"

#include <cstdio>

#include "app/internal/settings/identity_service.h"
#include "crypto/fingerprint.h"
#include "crypto/key_management.h"
#include "platform/key_container.h"
#include "settings/setting_value.h"

namespace tiv::app {

namespace {
// The user's keys as they were last made, kept beside the identity: a key file that is gone while this is set
// was lost, not yet to be made.
constexpr const char* key_fingerprints_value = "KeyFingerprints";

const char* const rekey_way_out = " Run `quorvel-cli rekey` to make new keys; your friends then need your new profile.";

std::string recorded_fingerprints(const qvl_settings_data& settings) {
    return read_text_setting(settings.user_key(), key_fingerprints_value).value_or("");
}

std::string fingerprints_of(crypto_provider& provider) {
    return "SKEY " + key_fingerprint(provider.signature_key_blob()) + "; AKEY " +
           key_fingerprint(provider.exchange_key_blob());
}

status record_fingerprints(const qvl_settings_data& settings, crypto_provider& provider) {
    if (!write_text_setting(settings.user_key(), key_fingerprints_value, fingerprints_of(provider))) {
        return {status_code::io_failure, "the fingerprints of this user's keys could not be recorded in the user "
                                         "settings at " +
                                             reg::hive_location(reg::root::user) + "."};
    }
    return {};
}

// Why the keys that were opened are not usable, and whether they simply were never made (so `init` may make
// them) rather than lost, damaged or exposed.
struct key_diagnosis {
    status reason;
    bool never_made = false;
};

std::string reason_after(const std::string& text, const std::string& path) {
    const std::string prefix = path + ": ";
    return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

status missing_key(const std::string& what, bool made_before) {
    if (made_before) {
        return {status_code::keys_unavailable,
                what + " is missing, although this user's keys were made before: it was lost or moved. Put it back, "
                       "or run `quorvel-cli rekey` to make new keys; your friends then need your new profile."};
    }
    return {status_code::keys_unavailable,
            "this user has no keys yet (" + what + " does not exist); run `quorvel-cli init` to make them."};
}

status unusable_key_file(const cryptoapi::key_container& container, cryptoapi::key_pair_kind kind,
                         const cryptoapi::outcome& found) {
    const std::string path = container.key_file_path(kind);
    if (found.code() == cryptoapi::permission || found.code() == cryptoapi::failure) {
        return {status_code::keys_unavailable, "the key file cannot be used: " + found.text() + "." + rekey_way_out};
    }
    return {status_code::keys_unavailable,
            "the key file " + path + " is damaged: " + reason_after(found.text(), path) + "." + rekey_way_out};
}

key_diagnosis diagnose_keys(const qvl_settings_data& settings, const crypto_provider& provider) {
    const bool made_before = !recorded_fingerprints(settings).empty();
    cryptoapi::key_container container;
    const cryptoapi::outcome opened =
        cryptoapi::key_container::open_in(provider.key_root(), crypto_provider::default_container_name, container);
    if (opened.code() == cryptoapi::bad_keyset) {
        const std::string directory =
            provider.key_root() + "/" + cryptoapi::container_directory_name(crypto_provider::default_container_name);
        return {missing_key("the key container " + directory, made_before), !made_before};
    }
    if (!opened) {
        return {{status_code::keys_unavailable, "the key container cannot be opened: " + opened.text() + "."}};
    }
    std::string missing;
    for (const auto kind : {cryptoapi::key_pair_kind::exchange, cryptoapi::key_pair_kind::signature}) {
        cryptoapi::rsa_key pair;
        const cryptoapi::outcome found = container.get_key(kind, pair);
        if (found.code() == cryptoapi::no_key) {
            missing = missing.empty() ? container.key_file_path(kind) : missing;
        } else if (!found) {
            return {unusable_key_file(container, kind, found)};
        }
    }
    if (!missing.empty()) {
        return {missing_key("the key file " + missing, made_before), !made_before};
    }
    // The files are sound now, but the provider opened without them; only a new start takes them up.
    return {{status_code::keys_unavailable, "the keys were not ready when the program started."}};
}

status container_failure(const cryptoapi::outcome& opened) {
    return {status_code::keys_unavailable,
            "the key container cannot be opened (" + opened.text() + "), so no keys were replaced."};
}
} // namespace

status open_user_keys(const qvl_settings_data& settings, crypto_provider& provider) {
    provider.open(settings.number(number_setting::machine_key_types));
    if (!provider.ready) {
        return diagnose_keys(settings, provider).reason;
    }
    // Keys made before their fingerprints were kept are recorded the first time they are seen whole.
    if (recorded_fingerprints(settings).empty()) {
        (void)record_fingerprints(settings, provider);
    }
    return {};
}

std::optional<std::string> keys_unlike_record(const qvl_settings_data& settings, crypto_provider& provider) {
    const std::string recorded = recorded_fingerprints(settings);
    if (!provider.ready || recorded.empty()) {
        return std::nullopt;
    }
    const std::string found = fingerprints_of(provider);
    if (found == recorded) {
        return std::nullopt;
    }
    return "the keys in " + provider.key_root() + " are not the ones this user made last (made: " + recorded +
           "; found: " + found +
           "). Friends who imported your newest profile will refuse them. Put the newest "
           "key files back, or give your friends your profile again (`quorvel-cli export-profile`).";
}

status make_first_keys(const qvl_settings_data& settings, crypto_provider& provider, unsigned bits) {
    if (status opened = open_user_keys(settings, provider); opened || !diagnose_keys(settings, provider).never_made) {
        return opened;
    }
    provider.set_initial_key_bits(bits);
    if (const cryptoapi::outcome made = provider.make_missing_pairs(); !made) {
        char error[16];
        std::snprintf(error, sizeof error, "0x%08X", static_cast<unsigned>(made.code()));
        return {status_code::keys_unavailable,
                "this user's keys could not be made under " + provider.key_root() + " (error " + error + ")."};
    }
    return record_fingerprints(settings, provider);
}

status check_user_keys(const qvl_settings_data& settings, const crypto_provider& provider) {
    return provider.ready ? status() : diagnose_keys(settings, provider).reason;
}

bool is_offered_key_length(unsigned bits) {
    return is_valid_user_key_length(bits);
}

unsigned key_strength(unsigned bits) {
    return estimated_strength(bits);
}

std::vector<key_question> rekey_questions(unsigned bits) {
    std::vector<key_question> questions;
    for (const key_warning& warning : rekey_warnings(bits)) {
        questions.push_back({warning.caption, warning.text});
    }
    return questions;
}

status open_keys_for_rekey(qvl_settings_data& settings, crypto_provider& provider) {
    if (status known = require_identity(settings); !known) {
        return known;
    }
    provider.open(settings.number(number_setting::machine_key_types));
    if (const cryptoapi::outcome opened = provider.open_or_create_container(); !opened) {
        return container_failure(opened);
    }
    return {};
}

rekey_report rekey(const qvl_settings_data& settings, crypto_provider& provider, unsigned bits) {
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
    if (made.signature_made() || made.exchange_made()) {
        // Recorded even when only one pair changed: the record must match the files as they now are.
        report.outcome = provider.ready ? record_fingerprints(settings, provider) : status();
    }
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
