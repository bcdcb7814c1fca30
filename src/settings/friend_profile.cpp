#include "settings/friend_profile.h"

#include "core/text.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv {

namespace {
constexpr std::uint32_t name_buffer_size = 64;

std::uint32_t read_number(const reg::key& k, const char* name) {
    return read_dword_setting(k, name).value_or(0);
}

template <std::size_t N> void read_text_field(const reg::key& k, const char* name, char (&field)[N]) {
    if (auto text = read_text_setting(k, name); text && !text->empty()) {
        copy_text_field(field, *text);
    }
}

} // namespace

std::vector<std::string> list_profiles(const qvl_settings_data& settings) {
    std::vector<std::string> names;
    for (std::uint32_t index = 0;; ++index) {
        char name[name_buffer_size];
        std::uint32_t length = name_buffer_size;
        if (reg::enum_key(settings.profile_list_key(), index, name, &length) != reg::success) {
            break;
        }
        names.emplace_back(name, length);
    }
    return names;
}

bool read_profile(qvl_settings_data& settings, const std::string& name, friend_profile& record) {
    settings.profile_key_mismatch = 0;
    const profile_lookup found = look_up_profile(settings, name, record);
    if (found == profile_lookup::inconsistent) {
        settings.profile_key_mismatch = 1;
    }
    return found == profile_lookup::found;
}

profile_lookup look_up_profile(const qvl_settings_data& settings, const std::string& name, friend_profile& record) {
    reg::key profile;
    if (name.empty() || reg::open_key(settings.profile_list_key(), name, profile) != reg::success) {
        return profile_lookup::missing;
    }
    record.receipt_enabled = static_cast<std::int32_t>(read_number(profile, names::parcel_receipt_enabled));
    record.encryption_methods = read_number(profile, names::encryption_method);
    record.max_file_size = read_number(profile, names::max_file_size);
    record.max_file_count = read_number(profile, names::max_file_count);
    record.key_bits = static_cast<std::int32_t>(read_number(profile, names::public_key_bits));
    record.key_bytes = static_cast<std::int32_t>(read_number(profile, names::public_key_bytes));

    const std::vector<std::uint8_t> blob =
        read_binary_setting(profile, names::public_key).value_or(std::vector<std::uint8_t>{});
    record.key.Assign(blob.data(), static_cast<std::int32_t>(blob.size()));
    // Without the RSA header there is no bit length to compare: such a key can only be consistent when it
    // claims nothing, and is never usable.
    const std::optional<std::uint32_t> bit_length = cryptoapi::claimed_key_bits(blob);
    const bool consistent =
        static_cast<std::size_t>(record.key_bytes) == blob.size() &&
        (bit_length ? *bit_length == static_cast<std::uint32_t>(record.key_bits) : record.key_bits == 0);

    read_text_field(profile, names::receipt_directory, record.receipt_directory);
    read_text_field(profile, names::ip_address, record.address);
    record.port = static_cast<std::int32_t>(read_number(profile, names::ip_port));
    read_text_field(profile, names::profile_uuid, record.uuid);
    read_text_field(profile, names::profile_name, record.name);
    record.signature_key = read_binary_setting(profile, names::signature_key).value_or(std::vector<std::uint8_t>{});
    const std::optional<std::uint32_t> messages = read_dword_setting(profile, names::accept_messages);
    record.messages = messages ? std::optional<bool>(*messages != 0) : std::nullopt;
    return consistent ? profile_lookup::found : profile_lookup::inconsistent;
}

bool save_profile(const qvl_settings_data& settings, const friend_profile& record) {
    // A byte count beyond the key buffer would write memory the record does not own.
    const std::size_t key_bytes = record.key_bytes > 0 ? static_cast<std::size_t>(record.key_bytes) : 0;
    if (key_bytes > static_cast<std::size_t>(record.key.size)) {
        return false;
    }
    reg::key profile;
    if (record.name[0] == '\0' || reg::create_key(settings.profile_list_key(), record.name, profile) != reg::success) {
        return false;
    }
    bool written =
        write_dword_setting(profile, names::parcel_receipt_enabled, static_cast<std::uint32_t>(record.receipt_enabled));
    written &= write_dword_setting(profile, names::encryption_method, record.encryption_methods);
    written &= write_dword_setting(profile, names::max_file_size, record.max_file_size);
    written &= write_dword_setting(profile, names::max_file_count, record.max_file_count);
    written &= write_dword_setting(profile, names::public_key_bits, static_cast<std::uint32_t>(record.key_bits));
    written &= write_dword_setting(profile, names::public_key_bytes, static_cast<std::uint32_t>(key_bytes));
    written &= write_binary_setting(profile, names::public_key, record.key.data, key_bytes);
    written &= write_text_setting(profile, names::receipt_directory, record.receipt_directory);
    written &= write_text_setting(profile, names::ip_address, record.address);
    written &= write_dword_setting(profile, names::ip_port, static_cast<std::uint32_t>(record.port));
    written &= write_text_setting(profile, names::profile_uuid, record.uuid);
    written &= write_text_setting(profile, names::profile_name, record.name);
    if (record.messages) {
        written &= write_dword_setting(profile, names::accept_messages, *record.messages ? 1 : 0);
    }
    // A pin, once stored, stays: saving a record without one (an old profile file imported again) never
    // removes it, or anyone could downgrade a friend to the old exchange.
    if (record.pinned()) {
        written &= write_binary_setting(profile, names::signature_key, record.signature_key.data(),
                                        record.signature_key.size());
    }
    return written;
}

std::vector<std::string> profiles_with_uuid(const qvl_settings_data& settings, const uuid_value& id) {
    std::vector<std::string> holders;
    for (const std::string& name : list_profiles(settings)) {
        reg::key profile;
        if (reg::open_key(settings.profile_list_key(), name, profile) != reg::success) {
            continue;
        }
        const auto text = read_text_setting(profile, names::profile_uuid);
        const auto stored = text ? uuid_from_text(*text) : std::nullopt;
        if (stored && *stored == id) {
            holders.push_back(name);
        }
    }
    return holders;
}

bool find_profile_by_uuid(qvl_settings_data& settings, const uuid_value& id, friend_profile& record) {
    const std::vector<std::string> holders = profiles_with_uuid(settings, id);
    return !holders.empty() && read_profile(settings, holders.front(), record);
}

bool delete_profile(const qvl_settings_data& settings, const std::string& name) {
    return !name.empty() && reg::delete_key(settings.profile_list_key(), name) == reg::success;
}

bool note_address_change(const qvl_settings_data& settings, const std::string& name, const std::string& words) {
    reg::key profile;
    return !name.empty() && reg::open_key(settings.profile_list_key(), name, profile) == reg::success &&
           write_text_setting(profile, names::address_change, words);
}

std::string address_change_of(const qvl_settings_data& settings, const std::string& name) {
    reg::key profile;
    if (name.empty() || reg::open_key(settings.profile_list_key(), name, profile) != reg::success) {
        return {};
    }
    return read_text_setting(profile, names::address_change).value_or(std::string());
}

} // namespace tiv
