#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/friends/profile_service.h"
#include "cli/options.h"

namespace tiv::cli {

// The policy options shared by import-profile and friend-set.
#define PROFILE_OPTIONS_HELP                                                                                           \
    "  --accept              accept parcels from this friend\n"                                                        \
    "  --max-size BYTES      largest file accepted, or 'unlimited'\n"                                                  \
    "  --max-count N         most files kept in the friend's parcel box, or 'unlimited'\n"                             \
    "  --types MASK          session key types accepted from this friend (bit mask, e.g. 0xE40)\n"

// `with_contact` adds --messages, --refuse, --address and --port; `with_key_consent` adds --replace-keys.
[[nodiscard]] std::vector<option_def> profile_option_defs(bool with_contact = false, bool with_key_consent = false);
// A usage problem as a sentence fragment, or none.
[[nodiscard]] std::optional<std::string> parse_friend_policy(const parsed_args& args, app::friend_policy& policy);

} // namespace tiv::cli
