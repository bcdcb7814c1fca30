#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "settings/friend_profile.h"

namespace tiv::cli {

// The policy options shared by import-profile and friend-set.
struct profile_changes {
    std::optional<bool> accept;
    std::optional<std::uint32_t> max_size;
    std::optional<std::uint32_t> max_count;
    std::optional<std::uint32_t> types;
    std::optional<std::string> address;
    std::optional<std::uint32_t> port;
};

#define PROFILE_OPTIONS_HELP                                                                                           \
    "  --accept              accept parcels from this friend\n"                                                        \
    "  --max-size BYTES      largest file accepted, or 'unlimited'\n"                                                  \
    "  --max-count N         most files kept in the friend's parcel box, or 'unlimited'\n"                             \
    "  --types MASK          session key types accepted from this friend (bit mask, e.g. 0xE40)\n"

// `with_contact` adds --refuse, --address and --port.
[[nodiscard]] std::vector<option_def> profile_option_defs(bool with_contact = false);
// A usage problem as a sentence fragment, or none.
[[nodiscard]] std::optional<std::string> parse_profile_changes(const parsed_args& args, profile_changes& changes);
void apply_profile_changes(const profile_changes& changes, friend_profile& profile);

} // namespace tiv::cli
