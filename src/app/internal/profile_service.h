#pragma once

#include "app/internal/only.h"

#include <optional>
#include <string>
#include <vector>

#include "app/friends/profile_service.h"
#include "app/internal/engine_objects.h"

// The friend services of friends/profile_service.h on settings and keys of the caller's own, for this layer and its
// tests; each does what its namesake taking a program does.
namespace tiv::app {

[[nodiscard]] result<std::string> export_profile(const qvl_settings_data& settings, crypto_provider& provider,
                                                 const std::string& chosen, bool overwrite = false);
[[nodiscard]] result<loaded_friend> load_profile_file(const qvl_settings_data& settings, const std::string& path);
[[nodiscard]] std::optional<key_change> find_key_change(const qvl_settings_data& settings, const friend_record& record);
[[nodiscard]] result<stored_friend> store_friend(qvl_settings_data& settings, const friend_record& record,
                                                 key_consent consent = key_consent::keep_stored_keys);
[[nodiscard]] result<stored_friend> import_profile(qvl_settings_data& settings, const std::string& path,
                                                   const friend_policy& policy,
                                                   key_consent consent = key_consent::keep_stored_keys);
[[nodiscard]] status edit_friend(qvl_settings_data& settings, const std::string& name, const friend_policy& policy);
[[nodiscard]] status delete_friend(const qvl_settings_data& settings, const std::string& name);
[[nodiscard]] result<std::vector<friend_summary>> list_friends(qvl_settings_data& settings);
[[nodiscard]] result<friend_record> read_friend(qvl_settings_data& settings, const std::string& name);
[[nodiscard]] result<readable_friend> read_friend_as_is(qvl_settings_data& settings, const std::string& name);

} // namespace tiv::app
