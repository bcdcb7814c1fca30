#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/raw_settings.h"
#include "app/status.h"

// Who the user of a program is, as its front ends set it up, show it and hand it to friends.
namespace tiv::app {

class program;

// Set-up of the machine's or the user's settings is complete once marked so; until then every start writes their
// first-run defaults again.
[[nodiscard]] bool setup_complete(program& p, hive which);
[[nodiscard]] status mark_setup_complete(program& p, hive which);

// True once per user: the first time it is asked, the caller shows the first-run notice. A user whose settings
// cannot be opened gets no notice.
[[nodiscard]] bool claim_first_run_notice();

// Every setting read again as stored; what is missing takes its default, and nothing is written.
void load_settings(program& p);
// The first-run defaults of the settings whose set-up is not complete, then every setting loaded.
void load_settings_with_defaults(program& p);

// Loads every setting; no_identity when this user has no UUID yet (nothing is written).
[[nodiscard]] status require_identity(program& p);

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
[[nodiscard]] status set_up_identity(program& p, const identity_choices& choices, std::vector<std::string>& warnings);

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

[[nodiscard]] identity_summary describe_identity(program& p);

// The name friends know this user by, as loaded.
[[nodiscard]] std::string user_name(program& p);

// Writes this user's profile file, for friends to import (name, UUID, external name, port, exchange key and the
// signature key's "SKEY:" line) to `chosen` (".prf" appended unless the name contains it). The path written, or why
// none was: a directory is invalid, and an existing file is a conflict unless `overwrite` says to replace it, so a
// slip of the file name never destroys a friend's profile kept beside one's own.
[[nodiscard]] result<std::string> export_profile(program& p, const std::string& chosen, bool overwrite = false);
// "<home>/Alice.prf": where an export is proposed, named after the user (with what a file name cannot hold
// replaced by '_').
[[nodiscard]] std::string suggested_profile_export_path(program& p);
// The file export_profile writes for `chosen`: ".prf" appended unless the name contains it.
[[nodiscard]] std::string profile_export_path(const std::string& chosen);

} // namespace tiv::app
