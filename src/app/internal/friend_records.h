#pragma once

#include "app/internal/only.h"

// Between the stored friend profiles below src/app and the records it hands to front ends.

#include <string>
#include <string_view>

#include "app/friends/friend_record.h"
#include "app/status.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

// Both ways without loss, but for the receipt switch, which the profile keeps as a number where only nonzero counts.
[[nodiscard]] friend_record record_of(const friend_profile& profile);
[[nodiscard]] friend_profile profile_of(const friend_record& record);

// `text` as a profile's field of `limit` characters keeps it: up to its first NUL, cut to the limit.
[[nodiscard]] std::string fitted_field(std::string_view text, std::size_t limit);

// read_friend for the services that hand the profile on below src/app (a send, a destination).
[[nodiscard]] result<friend_profile> read_friend_profile(qvl_settings_data& settings, const std::string& name);

} // namespace tiv::app
