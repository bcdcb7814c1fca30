#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/status.h"
#include "crypto/crypto_provider.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

// Set-up of a settings key (the machine's or the user's) is complete once its "SetupComplete" is a non-zero
// DWORD; until then every start writes that key's first-run defaults again.
[[nodiscard]] bool setup_complete(const reg::key& k);
[[nodiscard]] status mark_setup_complete(const reg::key& k);

// True once per user: when "FirstRun V1.2" of the user's program key is missing, not a DWORD or 0, it is written
// as 1 and the caller shows the first-run notice. A key that cannot be opened shows no notice.
[[nodiscard]] bool claim_first_run_notice();

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

// The dotted address at the start of "InterfaceIPAddress", which may carry a bracketed host name after it
// ("127.0.0.1  [local loopback]").
[[nodiscard]] std::string listening_host(const std::string& interface_text);
// "127.0.0.1", not "localhost" nor "127.1".
[[nodiscard]] bool is_dotted_ipv4(const std::string& text);

// What a first-run set-up may choose; what is not chosen keeps its default or earlier value.
struct identity_choices {
    std::optional<std::string> name;
    std::optional<std::string> address; // dotted IPv4
    std::optional<std::uint32_t> port;
    std::optional<std::string> parcel_root;
    // The "ADDR:" friends get: a host name or address they can reach. Without it, a new address takes along an
    // external name that followed the old one (external_name.h); one the user chose stays.
    std::optional<std::string> external_name;
};

// invalid, with the reason, when a choice could never work; checked before anything is written.
[[nodiscard]] status check_identity_choices(const identity_choices& choices);

// The first-run set-up without dialogs: the defaults where set-up is not complete, the choices, set-up marked
// complete, the parcel box root made ready (prepare_parcel_root). What does not stop it (a machine hive that cannot be
// written, a root that cannot be created or belongs to another user) is added to `warnings` as whole sentences.
[[nodiscard]] status set_up_identity(qvl_settings_data& settings, const identity_choices& choices,
                                     std::vector<std::string>& warnings);

// Who this user is, as a window or a command shows it.
struct identity_summary {
    std::string user_name;
    std::string uuid;
    std::string interface_address;
    std::uint32_t port = 0;
    std::string parcel_root;
    unsigned key_bits = 0; // 0 when there is no usable key-exchange pair
    // What friends see for this user after importing the exported profile: authentication_fingerprint of both
    // public keys, and which keys it covers.
    std::string fingerprint;
    std::string fingerprint_coverage;
};

[[nodiscard]] identity_summary describe_identity(const qvl_settings_data& settings, crypto_provider& provider);

} // namespace tiv::app
