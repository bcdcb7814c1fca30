#pragma once

#include "app/internal/only.h"

#include <cstdint>

namespace tiv {

class qvl_settings_data;

inline constexpr std::uint32_t default_key_type_mask = 0xE40;
inline constexpr std::uint32_t default_listening_port = 20000;

// First-run defaults of the machine key. The listening address is that of the interface holding the default route
// (else the first non-loopback IPv4 address that is up, else the address the host name resolves to off this
// computer, else loopback); "ExternalName" follows it (external_name.h). Run while the machine's "SetupComplete" is
// not set.
void set_machine_defaults(qvl_settings_data& settings);

// First-run defaults of the user key. An existing "UserUUID" is kept: an identity survives a repeated first run.
// A user without a parcel box root gets one below their own home; the machine's approved key types become the
// user's only when the machine settings can be read.
void set_user_defaults(qvl_settings_data& settings);

} // namespace tiv
