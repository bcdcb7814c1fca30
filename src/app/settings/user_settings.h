#pragma once

#include <cstdint>
#include <string>

#include "app/status.h"

// The settings of the user who runs the program: who they are, where their parcels land, which session key
// types they can use and their own public keys.
namespace tiv::app {

class program;

struct user_settings_view {
    std::string user_name;
    std::string uuid;
    std::string parcel_root;
    // The session key types this user can actually use: those the machine allows, the provider offers and the user
    // approved.
    std::uint32_t usable_key_types = 0;
    // What a friend compares after importing this user's profile (describe_identity); empty without keys.
    std::string fingerprint;
    std::string fingerprint_coverage;
};

[[nodiscard]] user_settings_view read_user_settings(program& p);

struct user_settings_choice {
    std::string user_name;
    std::string parcel_root; // empty: none chosen, the stored root is left alone
};

// What the listener does about a new parcel box root.
enum class listener_reroot {
    unchanged, // the root is the one it receives into already
    restarted, // it receives into the new root from now on (the program's listen_status() says whether it listens)
    waiting,   // it restarts once the incoming transfers under way have ended
};

struct user_settings_outcome {
    // invalid for an empty name (nothing was written), io_failure for a setting the store refused.
    status saved;
    // Why the chosen root cannot take parcels, naming the path (prepare_parcel_root). A new root so refused is not
    // written, and neither is the name; the stored root refused again keeps its place, and the name is written.
    status root;
    listener_reroot reroot = listener_reroot::unchanged;
};

// Makes sure of the root, then writes the name and the root, and moves the running listener to a new root that can
// take parcels. The approved key types are not written: they are shown here, not chosen, and writing back what the
// machine allows would narrow the user's own choice for good.
[[nodiscard]] user_settings_outcome apply_user_settings(program& p, const user_settings_choice& choice);

} // namespace tiv::app
