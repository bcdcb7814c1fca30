#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/owned_buffer.h"
#include "platform/uuid.h"

namespace tiv {

class qvl_settings_data;

// "MaxFileSize" and "MaxFileCount" use this value for "no limit".
inline constexpr std::uint32_t unlimited = 0xFFFFFFFFU;

// One friend as stored below "ProfileList". Text fields are cut to fit and always end with a NUL.
struct friend_profile {
    char name[64] = {};
    char uuid[64] = {};
    std::int32_t receipt_enabled = 0;
    char receipt_directory[64] = {};
    char address[32] = {};
    std::int32_t port = 0;
    std::uint32_t max_file_size = 0;
    std::uint32_t max_file_count = 0;
    std::uint32_t encryption_methods = 0;
    std::int32_t key_bits = 0;
    std::int32_t key_bytes = 0;
    owned_buffer key;
    // The friend's signature key as a PUBLICKEYBLOB; empty for a friend known only by the old exchange.
    std::vector<std::uint8_t> signature_key;
    // Whether the friend's messages are shown ("AcceptMessages"); none where the user never said, and then a friend
    // who may send parcels may send messages too.
    std::optional<bool> messages;

    // A pinned friend is only ever authenticated by the TLS exchange, in both directions.
    [[nodiscard]] bool pinned() const { return !signature_key.empty(); }
    [[nodiscard]] bool accepts_messages() const { return messages.value_or(receipt_enabled != 0); }
};

// Longest profile name that can be stored and listed.
inline constexpr std::size_t max_profile_name_length = 63;

// Every profile name in enumeration order; names of 64 characters or more end the list at their position.
[[nodiscard]] std::vector<std::string> list_profiles(const qvl_settings_data& settings);

// Fills `record` from the profile `name`. False when the profile is missing (record untouched) or when its
// key data disagree with their byte or bit count (record filled, `profile_key_mismatch` set).
[[nodiscard]] bool read_profile(qvl_settings_data& settings, const std::string& name, friend_profile& record);

enum class profile_lookup { found, missing, inconsistent };

// read_profile's outcome as one value, for callers that must tell a missing profile from one whose key data are
// inconsistent without the settings' shared flag (which another thread's read may change meanwhile).
[[nodiscard]] profile_lookup look_up_profile(const qvl_settings_data& settings, const std::string& name,
                                             friend_profile& record);

// Every profile whose "ProfileUUID" denotes `id`, in enumeration order.
[[nodiscard]] std::vector<std::string> profiles_with_uuid(const qvl_settings_data& settings, const uuid_value& id);

// Writes every value of the record under its name, creating the profile when needed.
[[nodiscard]] bool save_profile(const qvl_settings_data& settings, const friend_profile& record);

// The first profile (in enumeration order) whose "ProfileUUID" denotes `id`, read into `record`.
[[nodiscard]] bool find_profile_by_uuid(qvl_settings_data& settings, const uuid_value& id, friend_profile& record);

[[nodiscard]] bool delete_profile(const qvl_settings_data& settings, const std::string& name);

// The words of the last address change a friend told, kept beside its profile; empty when there was none.
[[nodiscard]] bool note_address_change(const qvl_settings_data& settings, const std::string& name,
                                       const std::string& words);
[[nodiscard]] std::string address_change_of(const qvl_settings_data& settings, const std::string& name);

} // namespace tiv
