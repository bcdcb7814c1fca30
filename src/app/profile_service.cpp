#include "app/profile_service.h"

#include "core/text.h"
#include "crypto/fingerprint.h"
#include "crypto/session_key_types.h"
#include "platform/crypto_backend_public_blob.h"
#include "platform/uuid.h"
#include "settings/profile_file.h"

namespace tiv::app {

namespace {
std::span<const std::uint8_t> key_blob(const friend_profile& profile) {
    if (profile.key.data == nullptr || profile.key_bytes <= 0 || profile.key_bytes > profile.key.size) {
        return {};
    }
    return {profile.key.data, static_cast<std::size_t>(profile.key_bytes)};
}

status refused(const std::string& reason) {
    return {status_code::invalid, reason + "; nothing was saved."};
}

// Another profile (by name) holding the same UUID; registry names compare without regard to case.
std::optional<std::string> other_uuid_holder(const qvl_settings_data& settings, const friend_profile& profile) {
    const auto id = uuid_from_text(profile.uuid);
    if (!id) {
        return std::nullopt;
    }
    for (const std::string& holder : profiles_with_uuid(settings, *id)) {
        if (!iequals(holder, profile.name)) {
            return holder;
        }
    }
    return std::nullopt;
}
} // namespace

result<std::string> export_profile(const qvl_settings_data& settings, crypto_provider& provider,
                                   const std::string& chosen) {
    std::string key_text;
    std::string signature_text;
    if (provider.exchange_key_text(0, key_text) == 0 || provider.signature_key_text(signature_text, 0) == 0) {
        return status(status_code::keys_unavailable,
                      "this user's keys cannot be read, so there is no profile to export.");
    }
    // A friend could never reach a profile without a real port, and an import of it would be refused anyway.
    const std::uint32_t port = settings.number(number_setting::listening_port);
    if (!is_valid_listening_port(port)) {
        return status(status_code::invalid, "this user's listening port (\"InterfaceIPPort\") is not one from 1 to "
                                            "65535, so the profile would lead nowhere; set it with 'quorvel-cli init "
                                            "--port N' first.");
    }
    const std::string path = profile_file_name(chosen);
    if (!write_profile_file(path, settings.text(text_setting::user_name), settings.text(text_setting::user_uuid),
                            settings.text(text_setting::external_name), port, key_text, signature_text)) {
        return status(status_code::io_failure, "could not write the profile file " + path + ".");
    }
    return path;
}

bool is_valid_key_type_mask(std::uint32_t mask) {
    return mask != 0 && (mask & ~all_session_key_types) == 0;
}

bool is_valid_friend_port(std::uint32_t port) {
    return port >= 1 && port <= 65535;
}

bool is_valid_friend_address(const std::string& address) {
    return !address.empty() && address.size() < sizeof(friend_profile::address);
}

void apply_friend_policy(const friend_policy& policy, friend_profile& profile) {
    if (policy.accept) {
        profile.receipt_enabled = *policy.accept ? 1 : 0;
    }
    if (policy.max_size) {
        profile.max_file_size = *policy.max_size;
    }
    if (policy.max_count) {
        profile.max_file_count = *policy.max_count;
    }
    if (policy.types) {
        profile.encryption_methods = *policy.types;
    }
    if (policy.address) {
        copy_text_field(profile.address, *policy.address);
    }
    if (policy.port) {
        profile.port = static_cast<std::int32_t>(*policy.port);
    }
}

result<friend_profile> load_profile_file(const qvl_settings_data& settings, const std::string& path) {
    profile_file_fields fields;
    switch (read_profile_file(path, fields)) {
    case file_read::ok:
        break;
    case file_read::unreadable:
        return status(status_code::not_found, "could not read the profile file " + path + ".");
    case file_read::not_regular:
        return status(status_code::invalid, path + " is not a regular file, so it holds no profile.");
    case file_read::too_large:
        return status(status_code::invalid, path + " is larger than " + std::to_string(profile_file_limit / 1024) +
                                                " KiB, too large for a profile file.");
    }
    friend_profile profile = profile_from_file(fields, settings.number(number_setting::machine_key_types));
    if (status checked = check_friend(profile); !checked) {
        return checked;
    }
    return profile;
}

status check_friend(const friend_profile& profile) {
    if (profile.name[0] == '\0') {
        return refused("the profile file holds no usable name");
    }
    if (!uuid_from_text(profile.uuid)) {
        return refused("the profile file holds no valid UUID");
    }
    cryptoapi::rsa_key key;
    if (!cryptoapi::import_public_key_blob(key_blob(profile), key)) {
        return refused("the profile file holds no valid public key");
    }
    cryptoapi::rsa_key signature_key;
    if (profile.pinned() && !cryptoapi::import_public_key_blob(profile.signature_key, signature_key)) {
        return refused("the profile file holds an invalid signature key (SKEY)");
    }
    if (profile.port < 0 || !is_valid_friend_port(static_cast<std::uint32_t>(profile.port))) {
        return refused("the profile file holds no listening port from 1 to 65535");
    }
    return {};
}

std::string friend_fingerprint(const friend_profile& profile) {
    return key_fingerprint(key_blob(profile));
}

result<stored_friend> store_friend(qvl_settings_data& settings, const friend_profile& profile) {
    if (status checked = check_friend(profile); !checked) {
        return checked;
    }
    if (const auto holder = other_uuid_holder(settings, profile)) {
        return status(status_code::conflict, "the UUID " + std::string(profile.uuid) +
                                                 " already belongs to the friend profile '" + *holder +
                                                 "'; nothing was saved.");
    }
    stored_friend stored;
    friend_profile existing;
    stored.replaced = look_up_profile(settings, profile.name, existing) != profile_lookup::missing;
    stored.pinned = profile.pinned() || existing.pinned();
    if (stored.replaced) {
        stored.warnings.push_back("The profile name <" + std::string(profile.name) +
                                  "> is already in the database. It has been overwritten.");
        if (existing.pinned() && !profile.pinned()) {
            stored.warnings.push_back("the stored profile is pinned and stays pinned; a profile file without a "
                                      "signature key cannot undo that.");
        }
    }
    if (!save_profile(settings, profile)) {
        return status(status_code::io_failure, "Some failure in saving record!");
    }
    return stored;
}

result<stored_friend> import_profile(qvl_settings_data& settings, const std::string& path, const friend_policy& policy,
                                     friend_profile* imported) {
    result<friend_profile> loaded = load_profile_file(settings, path);
    if (!loaded) {
        return loaded.error();
    }
    apply_friend_policy(policy, *loaded);
    if (imported != nullptr) {
        *imported = *loaded;
    }
    return store_friend(settings, *loaded);
}

status edit_friend(qvl_settings_data& settings, const std::string& name, const friend_policy& policy) {
    friend_profile profile;
    // A profile whose key data are inconsistent can still have its policy changed.
    if (look_up_profile(settings, name, profile) == profile_lookup::missing) {
        return {status_code::not_found, "there is no friend profile named '" + name + "'."};
    }
    apply_friend_policy(policy, profile);
    if (!save_profile(settings, profile)) {
        return {status_code::io_failure, "Some failure in saving record!"};
    }
    return {};
}

status delete_friend(const qvl_settings_data& settings, const std::string& name) {
    if (!delete_profile(settings, name)) {
        return {status_code::not_found, "Failed to delete profile."};
    }
    return {};
}

result<std::vector<friend_summary>> list_friends(qvl_settings_data& settings) {
    if (!settings.profile_list_key()) {
        return status(status_code::io_failure,
                      "cannot open the friend profiles at " + reg::hive_location(reg::root::user) + ".");
    }
    std::vector<friend_summary> friends;
    for (const std::string& name : list_profiles(settings)) {
        friend_profile profile;
        friend_summary summary;
        summary.consistent = look_up_profile(settings, name, profile) != profile_lookup::inconsistent;
        summary.name = profile.name;
        summary.address = profile.address;
        summary.port = profile.port;
        summary.uuid = profile.uuid;
        summary.key_bits = profile.key_bits;
        summary.fingerprint = friend_fingerprint(profile);
        summary.pinned = profile.pinned();
        friends.push_back(std::move(summary));
    }
    return friends;
}

result<friend_profile> read_friend(qvl_settings_data& settings, const std::string& name) {
    friend_profile profile;
    switch (look_up_profile(settings, name, profile)) {
    case profile_lookup::missing:
        return status(status_code::not_found, "there is no friend named '" + name + "' (see 'quorvel-cli friends').");
    case profile_lookup::inconsistent:
        return status(status_code::invalid, "the stored key of '" + name + "' is inconsistent; import it again.");
    case profile_lookup::found:
        break;
    }
    return profile;
}

} // namespace tiv::app
