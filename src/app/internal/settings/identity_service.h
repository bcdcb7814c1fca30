#pragma once

#include "app/internal/only.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/identity.h"
#include "app/status.h"
#include "crypto/crypto_provider.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

// Set-up of a settings key (the machine's or the user's) is complete once its "SetupComplete" is a non-zero
// DWORD; until then every start writes that key's first-run defaults again.
[[nodiscard]] bool setup_complete(const reg::key& k);
[[nodiscard]] status mark_setup_complete(const reg::key& k);

// The first-run defaults of each key whose set-up is not complete, then every setting loaded.
void load_settings_with_defaults(qvl_settings_data& settings);

// Loads every setting; no_identity when this user has no UUID yet (nothing is written).
[[nodiscard]] status require_identity(qvl_settings_data& settings);

// Opens the key container as start-up does, never making keys (key_service.h: open_user_keys); what is wrong
// with them comes back with the file, the reason and the way out.
[[nodiscard]] status open_keys(const qvl_settings_data& settings, crypto_provider& provider);

// Start-up's first half: the defaults where set-up is not complete, every setting, and the keys.
[[nodiscard]] status open_identity(qvl_settings_data& settings, crypto_provider& provider);

// io_failure: the settings of `hive` could not be written, naming their file.
[[nodiscard]] status unwritable_settings(reg::root hive);

// One setting changed in memory and written to its key in one call; io_failure when the key refuses it (the
// value in memory then stays as it was).
[[nodiscard]] status save_setting(qvl_settings_data& settings, text_setting which, const std::string& value);
[[nodiscard]] status save_setting(qvl_settings_data& settings, number_setting which, std::uint32_t value);

// The address at the start of "InterfaceIPAddress", which may carry a bracketed host name after it
// ("127.0.0.1  [local loopback]").
[[nodiscard]] std::string listening_host(const std::string& interface_text);
// An address to listen on: a dotted IPv4 address ("127.0.0.1", not "localhost" nor "127.1") or an IPv6 one ("::",
// "::1", "fe80::1%eth0").
[[nodiscard]] bool is_listening_address(const std::string& text);

// The first-run set-up on these settings (identity.h).
[[nodiscard]] status set_up_identity(qvl_settings_data& settings, const identity_choices& choices,
                                     std::vector<std::string>& warnings);

[[nodiscard]] identity_summary describe_identity(const qvl_settings_data& settings, crypto_provider& provider);

} // namespace tiv::app
