#include "app/internal/profile_service.h"

#include <algorithm>
#include <filesystem>

#include "app/identity.h"
#include "app/internal/friend_records.h"
#include "app/internal/program_parts.h"
#include "app/internal/published_reachability.h"
#include "app/internal/settings/identity_service.h"
#include "app/settings/external_name.h"
#include "core/address_text.h"
#include "core/outside_text.h"
#include "core/text.h"
#include "crypto/crypto_provider.h"
#include "crypto/fingerprint.h"
#include "crypto/session_key_types.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "platform/uuid.h"
#include "settings/friend_profile.h"
#include "settings/profile_file.h"
#include "settings/qvl_settings_data.h"

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

bool holds_own_uuid(const qvl_settings_data& settings, const friend_profile& profile) {
    const auto id = uuid_from_text(profile.uuid);
    const auto own = uuid_from_text(settings.text(text_setting::user_uuid));
    return id && own && *id == *own;
}

bool same_exchange_key(const friend_profile& a, const friend_profile& b) {
    const auto first = key_blob(a);
    const auto second = key_blob(b);
    return std::equal(first.begin(), first.end(), second.begin(), second.end());
}

// A record without a signature key never unpins a stored friend: saving keeps the stored signature key, so the
// record is shown and compared with it.
friend_profile with_stored_pin(const friend_profile& profile, const friend_profile& stored) {
    friend_profile merged = profile;
    if (!merged.pinned() && stored.pinned() && same_exchange_key(profile, stored)) {
        merged.signature_key = stored.signature_key;
    }
    return merged;
}

// Why `address` cannot be a friend's, as a clause without its full stop.
std::optional<std::string> friend_address_fault(const std::string& address) {
    if (const std::optional<std::string> fault = address_fault(address)) {
        return "the address '" + escaped_text(address) + "' " + *fault;
    }
    if (address.size() >= sizeof(friend_profile::address)) {
        return "the address '" + address + "' is longer than " + std::to_string(sizeof(friend_profile::address) - 1) +
               " characters, more than a profile holds";
    }
    return std::nullopt;
}

// Text from a file as a message may quote it: bytes outside printable ASCII become \xNN, so a name with escape
// sequences or bidirectional overrides cannot rewrite the terminal that shows the message.
std::string printable(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            shown += c;
        } else {
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 0x0F];
        }
    }
    return shown;
}

status check_profile(const friend_profile& profile) {
    std::string filtered = profile.name;
    filter_profile_name(filtered);
    if (compact_name(profile.name).empty()) {
        return refused("the profile file holds no usable name");
    }
    if (filtered != profile.name) {
        return refused("the profile name \"" + printable(profile.name) +
                       "\" holds characters other than letters, digits, blanks, '-' and '_'");
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
    if (profile.address[0] != '\0') {
        if (const std::optional<std::string> fault = friend_address_fault(profile.address)) {
            return refused(*fault);
        }
    }
    return {};
}

std::string profile_fingerprint(const friend_profile& profile) {
    return authentication_fingerprint(key_blob(profile), profile.signature_key);
}

std::optional<key_change> profile_key_change(const qvl_settings_data& settings, const friend_profile& profile) {
    friend_profile stored;
    // A stored profile whose key data are inconsistent authenticates nobody; importing the friend again repairs it.
    if (look_up_profile(settings, profile.name, stored) != profile_lookup::found) {
        return std::nullopt;
    }
    const friend_profile incoming = with_stored_pin(profile, stored);
    const std::string old_fingerprint = profile_fingerprint(stored);
    const std::string new_fingerprint = profile_fingerprint(incoming);
    if (old_fingerprint == new_fingerprint) {
        return std::nullopt;
    }
    return key_change{stored.name, old_fingerprint, fingerprint_coverage(stored.pinned()), new_fingerprint,
                      fingerprint_coverage(incoming.pinned())};
}
} // namespace

std::string profile_export_path(const std::string& chosen) {
    return profile_file_name(chosen);
}

result<std::string> export_profile(const qvl_settings_data& settings, crypto_provider& provider,
                                   const std::string& chosen, bool overwrite) {
    const std::string path = profile_export_path(chosen);
    std::error_code ignored;
    for (const std::string& named : {chosen, path}) {
        if (std::filesystem::is_directory(named, ignored)) {
            return status(status_code::invalid, named + " is a directory; give the name of the profile file to write.");
        }
    }
    // symlink_status, so a dangling link counts as a file that is there (the export would replace the link).
    if (!overwrite && std::filesystem::exists(std::filesystem::symlink_status(path, ignored))) {
        return status(status_code::conflict, path + " already exists and was left as it is.");
    }
    std::string key_text;
    std::string signature_text;
    if (provider.exchange_key_text(0, key_text) == 0 || provider.signature_key_text(signature_text, 0) == 0) {
        return status(status_code::keys_unavailable,
                      "this user's keys cannot be read, so there is no profile to export.");
    }
    // A friend could never reach a profile without a real port, and an import of it would be refused anyway.
    std::uint32_t port = settings.number(number_setting::listening_port);
    if (!is_valid_listening_port(port)) {
        return status(status_code::invalid, "this user's listening port (\"InterfaceIPPort\") is not one from 1 to "
                                            "65535, so the profile would lead nowhere; set it with 'quorvel-cli init "
                                            "--port N' first.");
    }
    // Behind a router that forwards for the running listener, friends outside reach the forwarded address, unless
    // the user named the address friends use.
    std::string address = settings.text(text_setting::external_name);
    if (const std::optional<mapped_endpoint> mapped = published_mapping(settings);
        mapped && follows_listening_address(address, listening_host(settings.text(text_setting::interface_ip_address)),
                                            this_machine_reach())) {
        address = mapped->host;
        port = mapped->port;
    }
    if (!write_profile_file(path, settings.text(text_setting::user_name), settings.text(text_setting::user_uuid),
                            address, port, key_text, signature_text, overwrite)) {
        if (!overwrite && std::filesystem::exists(std::filesystem::symlink_status(path, ignored))) {
            return status(status_code::conflict, path + " already exists and was left as it is.");
        }
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

status check_friend_address(const std::string& address) {
    if (const std::optional<std::string> fault = friend_address_fault(address)) {
        return {status_code::invalid, *fault + "."};
    }
    return {};
}

const std::vector<acceptance_choice>& acceptance_choices() {
    static const std::vector<acceptance_choice> choices{
        {"Refuse", {.accept = false}},
        {"Accept files up to 100 MB", {.accept = true, .max_size = 100'000'000, .max_count = unlimited}},
        {"Accept files up to 4 GB", {.accept = true, .max_size = 4'000'000'000, .max_count = unlimited}},
        {"Accept any size", {.accept = true, .max_size = unlimited, .max_count = unlimited}},
    };
    return choices;
}

void apply_friend_policy(const friend_policy& policy, friend_record& record) {
    if (policy.accept) {
        record.receipt_enabled = *policy.accept;
    }
    if (policy.messages) {
        record.messages = *policy.messages;
    }
    if (policy.max_size) {
        record.max_file_size = *policy.max_size;
    }
    if (policy.max_count) {
        record.max_file_count = *policy.max_count;
    }
    if (policy.types) {
        record.key_types = *policy.types;
    }
    if (policy.address) {
        record.address = fitted_field(*policy.address, friend_limits.address);
    }
    if (policy.port) {
        record.port = static_cast<std::int32_t>(*policy.port);
    }
}

result<loaded_friend> load_profile_file(const qvl_settings_data& settings, const std::string& path) {
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
    // Checked before the record cuts it to fit: a cut address is some other computer's.
    if (fields.address && !fields.address->empty()) {
        if (const std::optional<std::string> fault = friend_address_fault(*fields.address)) {
            return refused("the profile file's ADDR: line is refused: " + *fault);
        }
    }
    friend_profile profile = profile_from_file(fields, settings.number(number_setting::machine_key_types));
    if (status checked = check_profile(profile); !checked) {
        return checked;
    }
    loaded_friend loaded;
    if (fields.name && *fields.name != profile.name) {
        loaded.warnings.push_back("the name \"" + printable(*fields.name) + "\" in the profile file became \"" +
                                  profile.name +
                                  "\": a profile name keeps only letters, digits, blanks, '-' and '_', at most " +
                                  std::to_string(max_profile_name_length) + " of them.");
    }
    friend_profile stored;
    if (look_up_profile(settings, profile.name, stored) != profile_lookup::missing) {
        profile.receipt_enabled = stored.receipt_enabled;
        profile.messages = stored.messages;
        profile.max_file_size = stored.max_file_size;
        profile.max_file_count = stored.max_file_count;
        profile.encryption_methods = stored.encryption_methods;
        if (stored.receipt_directory[0] != '\0') {
            copy_text_field(profile.receipt_directory, stored.receipt_directory);
        }
    }
    loaded.record = record_of(profile);
    return loaded;
}

status check_friend(const friend_record& record) {
    return check_profile(profile_of(record));
}

std::string friend_fingerprint(const friend_record& record) {
    return profile_fingerprint(profile_of(record));
}

const char* friend_fingerprint_coverage(const friend_record& record) {
    return fingerprint_coverage(record.pinned());
}

std::optional<key_change> find_key_change(const qvl_settings_data& settings, const friend_record& record) {
    return profile_key_change(settings, profile_of(record));
}

result<stored_friend> store_friend(qvl_settings_data& settings, const friend_record& record, key_consent consent) {
    const friend_profile profile = profile_of(record);
    if (status checked = check_profile(profile); !checked) {
        return checked;
    }
    if (holds_own_uuid(settings, profile)) {
        return status(status_code::conflict, "the UUID " + std::string(profile.uuid) + " is this user's own ('" +
                                                 settings.text(text_setting::user_name) +
                                                 "'), not a friend's; nothing was saved.");
    }
    if (const auto holder = other_uuid_holder(settings, profile)) {
        return status(status_code::conflict, "the UUID " + std::string(profile.uuid) +
                                                 " already belongs to the friend profile '" + *holder +
                                                 "'; nothing was saved.");
    }
    stored_friend stored;
    friend_profile existing;
    stored.replaced = look_up_profile(settings, profile.name, existing) != profile_lookup::missing;
    const friend_profile merged = with_stored_pin(profile, existing);
    stored.pinned = merged.pinned();
    if (existing.pinned() && !profile.pinned() && !same_exchange_key(profile, existing)) {
        return status(status_code::conflict,
                      "the friend profile '" + std::string(existing.name) +
                          "' is pinned to a signature key, and a profile file without one (no SKEY line) cannot "
                          "change its keys; import their current profile file; nothing was saved.");
    }
    stored.keys_replaced = profile_key_change(settings, profile);
    if (stored.keys_replaced && consent != key_consent::replace_keys) {
        const key_change& change = *stored.keys_replaced;
        return status(status_code::conflict, "the keys in this profile differ from the keys stored for '" +
                                                 change.name + "': stored fingerprint " + change.old_fingerprint +
                                                 " (" + change.old_coverage + "), new fingerprint " +
                                                 change.new_fingerprint + " (" + change.new_coverage +
                                                 "). Compare the new fingerprint with " + change.name +
                                                 " before replacing the keys; nothing was saved.");
    }
    if (stored.replaced) {
        stored.warnings.push_back(profile_name_taken(profile.name) + " It has been overwritten.");
        if (existing.pinned() && !profile.pinned()) {
            stored.warnings.push_back("the stored profile is pinned and stays pinned; a profile file without a "
                                      "signature key cannot undo that.");
        }
    }
    if (!save_profile(settings, merged)) {
        return status(status_code::io_failure, "Some failure in saving record!");
    }
    stored.record = record_of(merged);
    return stored;
}

result<stored_friend> import_profile(qvl_settings_data& settings, const std::string& path, const friend_policy& policy,
                                     key_consent consent) {
    result<loaded_friend> loaded = load_profile_file(settings, path);
    if (!loaded) {
        return loaded.error();
    }
    apply_friend_policy(policy, loaded->record);
    result<stored_friend> stored = store_friend(settings, loaded->record, consent);
    if (stored) {
        stored->warnings.insert(stored->warnings.begin(), loaded->warnings.begin(), loaded->warnings.end());
    }
    return stored;
}

status edit_friend(qvl_settings_data& settings, const std::string& name, const friend_policy& policy) {
    friend_profile profile;
    // A profile whose key data are inconsistent can still have its policy changed.
    if (look_up_profile(settings, name, profile) == profile_lookup::missing) {
        return {status_code::not_found, "there is no friend profile named '" + name + "'."};
    }
    if (policy.address) {
        if (status address = check_friend_address(*policy.address); !address) {
            return address;
        }
    }
    friend_record record = record_of(profile);
    apply_friend_policy(policy, record);
    if (!save_profile(settings, profile_of(record))) {
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
        summary.address = escaped_text(profile.address);
        summary.port = profile.port;
        summary.uuid = profile.uuid;
        summary.key_bits = profile.key_bits;
        summary.fingerprint = profile_fingerprint(profile);
        summary.fingerprint_coverage = fingerprint_coverage(profile.pinned());
        summary.pinned = profile.pinned();
        summary.receipt_enabled = profile.receipt_enabled != 0;
        summary.accepts_messages = profile.accepts_messages();
        summary.max_file_size = profile.max_file_size;
        summary.max_file_count = profile.max_file_count;
        summary.key_types = profile.encryption_methods;
        summary.address_change = escaped_text(address_change_of(settings, name));
        friends.push_back(std::move(summary));
    }
    return friends;
}

result<friend_profile> read_friend_profile(qvl_settings_data& settings, const std::string& name) {
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

result<friend_record> read_friend(qvl_settings_data& settings, const std::string& name) {
    result<friend_profile> found = read_friend_profile(settings, name);
    if (!found) {
        return found.error();
    }
    return record_of(*found);
}

namespace {
std::string damage_sentence(const std::string& name, const char* key, const std::string& reason) {
    return std::string("The ") + key + " of " + name + " does not parse: " + reason + ".";
}

std::string key_damage(const friend_profile& profile, const std::string& name, const char* exchange_key,
                       const char* signature_key) {
    cryptoapi::rsa_key key;
    if (!cryptoapi::import_public_key_blob(key_blob(profile), key)) {
        return damage_sentence(name, exchange_key, "it is no RSA public key");
    }
    if (profile.pinned() && !cryptoapi::import_public_key_blob(profile.signature_key, key)) {
        return damage_sentence(name, signature_key, "it is no RSA public key");
    }
    return {};
}
} // namespace

result<readable_friend> read_friend_as_is(qvl_settings_data& settings, const std::string& name) {
    friend_profile profile;
    readable_friend read;
    switch (look_up_profile(settings, name, profile)) {
    case profile_lookup::missing:
        return status(status_code::not_found, "there is no friend named '" + name + "'.");
    case profile_lookup::inconsistent:
        read.damage =
            damage_sentence(name, "stored exchange key", "its data disagree with the byte or bit count stored with it");
        break;
    case profile_lookup::found:
        read.damage = key_damage(profile, name, "stored exchange key", "stored signature key");
        break;
    }
    read.record = record_of(profile);
    return read;
}

std::string friend_key_damage(const friend_record& record) {
    return key_damage(profile_of(record), record.name, "exchange key", "signature key");
}

std::string profile_name_taken(const std::string& name) {
    return "The profile name <" + name + "> is already in the database.";
}

result<loaded_friend> load_profile_file(program& p, const std::string& path) {
    return load_profile_file(settings_of(p), path);
}

std::optional<key_change> find_key_change(program& p, const friend_record& profile) {
    return find_key_change(settings_of(p), profile);
}

result<stored_friend> store_friend(program& p, const friend_record& profile, key_consent consent) {
    return store_friend(settings_of(p), profile, consent);
}

status edit_friend(program& p, const std::string& name, const friend_policy& policy) {
    return edit_friend(settings_of(p), name, policy);
}

status delete_friend(program& p, const std::string& name) {
    return delete_friend(settings_of(p), name);
}

result<std::vector<friend_summary>> list_friends(program& p) {
    return list_friends(settings_of(p));
}

result<friend_record> read_friend(program& p, const std::string& name) {
    return read_friend(settings_of(p), name);
}

result<readable_friend> read_friend_as_is(program& p, const std::string& name) {
    return read_friend_as_is(settings_of(p), name);
}

} // namespace tiv::app
