#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/status.h"
#include "crypto/crypto_provider.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

// Writes this user's profile file (name, UUID, external name, port, exchange key and the signature key's "SKEY:"
// line) to `chosen` (".prf" appended unless the name contains it). The path written, or why none was.
[[nodiscard]] result<std::string> export_profile(const qvl_settings_data& settings, crypto_provider& provider,
                                                 const std::string& chosen);

// Rules a friend's profile must meet, for the options and dialogs that edit one.
[[nodiscard]] bool is_valid_key_type_mask(std::uint32_t mask);
[[nodiscard]] bool is_valid_friend_port(std::uint32_t port);
[[nodiscard]] bool is_valid_friend_address(const std::string& address);

// What the user decides about a friend; what is not given stays as it was (or as the import presets it).
struct friend_policy {
    std::optional<bool> accept;
    std::optional<std::uint32_t> max_size;
    std::optional<std::uint32_t> max_count;
    std::optional<std::uint32_t> types;
    std::optional<std::string> address;
    std::optional<std::uint32_t> port;
};
void apply_friend_policy(const friend_policy& policy, friend_profile& profile);

// A profile file read as a new friend record (the import's presets, then the file's fields) and checked; not yet
// stored, so a dialog can show it and let the user edit it first.
[[nodiscard]] result<friend_profile> load_profile_file(const qvl_settings_data& settings, const std::string& path);

// invalid, with the reason, for a record the program could never use: no usable name, no valid UUID, no valid
// public key or signature key, no listening port from 1 to 65535.
[[nodiscard]] status check_friend(const friend_profile& profile);

// The public key's fingerprint as friends compare it; empty when the record holds no key.
[[nodiscard]] std::string friend_fingerprint(const friend_profile& profile);

struct stored_friend {
    bool replaced = false;             // a profile of that name existed (usable or not) and was overwritten
    bool pinned = false;               // the stored profile is pinned, by this record or by a pin stored earlier
    std::vector<std::string> warnings; // whole sentences: the overwrite, a pin that stays
};

// Checks the record and stores it under its name. A UUID that another profile already holds is refused
// (conflict, naming that profile): the receiver finds friends by UUID, so two of them would make one unreachable
// or let one pose as the other.
[[nodiscard]] result<stored_friend> store_friend(qvl_settings_data& settings, const friend_profile& profile);

// load_profile_file, the policy, then store_friend: the import without a dialog.
[[nodiscard]] result<stored_friend> import_profile(qvl_settings_data& settings, const std::string& path,
                                                   const friend_policy& policy, friend_profile* imported = nullptr);

// Changes a stored friend; not_found when there is no profile of that name.
[[nodiscard]] status edit_friend(qvl_settings_data& settings, const std::string& name, const friend_policy& policy);
[[nodiscard]] status delete_friend(const qvl_settings_data& settings, const std::string& name);

// One friend as a list shows it.
struct friend_summary {
    std::string name;
    std::string address;
    std::int32_t port = 0;
    std::string uuid;
    bool consistent = true; // false when the stored key data disagree with their counts
    std::int32_t key_bits = 0;
    std::string fingerprint; // empty when the profile holds no key
    bool pinned = false;
};

[[nodiscard]] result<std::vector<friend_summary>> list_friends(qvl_settings_data& settings);

// The stored friend of that name; not_found when there is none, invalid when its key data are inconsistent.
[[nodiscard]] result<friend_profile> read_friend(qvl_settings_data& settings, const std::string& name);

} // namespace tiv::app
