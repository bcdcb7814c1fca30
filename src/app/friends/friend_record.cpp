#include "app/friends/friend_record.h"

#include "app/internal/friend_records.h"
#include "core/text.h"

namespace tiv::app {

// The limits are the stored profile's fields, less their closing NUL.
static_assert(friend_limits.name == sizeof(friend_profile::name) - 1 && friend_limits.name == max_profile_name_length);
static_assert(friend_limits.uuid == sizeof(friend_profile::uuid) - 1);
static_assert(friend_limits.address == sizeof(friend_profile::address) - 1);
static_assert(friend_limits.parcel_box == sizeof(friend_profile::receipt_directory) - 1);
static_assert(unlimited == tiv::unlimited);

std::string fitted_field(std::string_view text, std::size_t limit) {
    text = text.substr(0, text.find('\0'));
    return std::string(text.substr(0, limit));
}

friend_record record_of(const friend_profile& profile) {
    friend_record record;
    record.name = profile.name;
    record.uuid = profile.uuid;
    record.address = profile.address;
    record.port = profile.port;
    record.receipt_enabled = profile.receipt_enabled != 0;
    record.messages = profile.messages;
    record.max_file_size = profile.max_file_size;
    record.max_file_count = profile.max_file_count;
    record.key_types = profile.encryption_methods;
    record.parcel_box = profile.receipt_directory;
    if (profile.key.data != nullptr) {
        record.key.assign(profile.key.data, profile.key.data + profile.key.size);
    }
    record.key_bytes = profile.key_bytes;
    record.key_bits = profile.key_bits;
    record.signature_key = profile.signature_key;
    return record;
}

friend_profile profile_of(const friend_record& record) {
    friend_profile profile;
    copy_text_field(profile.name, record.name);
    copy_text_field(profile.uuid, record.uuid);
    copy_text_field(profile.address, record.address);
    profile.port = record.port;
    profile.receipt_enabled = record.receipt_enabled ? 1 : 0;
    profile.messages = record.messages;
    profile.max_file_size = record.max_file_size;
    profile.max_file_count = record.max_file_count;
    profile.encryption_methods = record.key_types;
    copy_text_field(profile.receipt_directory, record.parcel_box);
    if (!record.key.empty()) {
        profile.key.Assign(record.key.data(), static_cast<std::int32_t>(record.key.size()));
    }
    profile.key_bytes = record.key_bytes;
    profile.key_bits = record.key_bits;
    profile.signature_key = record.signature_key;
    return profile;
}

} // namespace tiv::app
