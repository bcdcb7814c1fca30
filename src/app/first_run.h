#pragma once

#include <cstdint>

namespace tiv {

class qvl_settings_data;

inline constexpr std::uint32_t default_key_type_mask = 0xE40;
inline constexpr std::uint32_t default_listening_port = 20000;

// First-run defaults of the machine key (and the user's parcel box root). Run while the machine's
// "SetupComplete" is not set.
void set_machine_defaults(qvl_settings_data& settings);

// First-run defaults of the user key. An existing "UserUUID" is kept: an identity survives a repeated first run.
void set_user_defaults(qvl_settings_data& settings);

} // namespace tiv
