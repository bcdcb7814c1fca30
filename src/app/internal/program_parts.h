#pragma once

#include "app/internal/only.h"

#include <memory>

#include "app/internal/history/history_keeper.h"
#include "app/internal/lan/lan_neighbours.h"
#include "app/internal/message_hub.h"
#include "app/internal/program_spine.h"
#include "app/program.h"
#include "crypto/crypto_provider.h"
#include "net/socket/net_address.h"
#include "settings/qvl_settings_data.h"

// Inside this layer only (and its tests): what a program is made of. The front ends see program.h alone.
namespace tiv::app {

// The settings and the key provider a program runs on: the process's own unless a test brings its own, each with
// its own home and keys, to hold two users in one process.
// Tests may answer name lookups in the resolver's place too, so that a name of several addresses needs no hosts file.
struct program_environment {
    qvl_settings_data& settings;
    crypto_provider& provider;
    name_resolver resolve = resolve_all;
};

struct program_parts {
    program_parts(std::unique_ptr<qvl_settings_data> own_settings, const program_environment& environment,
                  questions& answers);

    // The settings the program made for itself, when it was given none.
    std::unique_ptr<qvl_settings_data> own_settings;
    qvl_settings_data& settings;
    crypto_provider& provider;
    // Whom the program asks, on the front end's thread.
    questions& answers;
    name_resolver resolve;
    // Shared with the transfers, which tell it their rows as they end, however late that is.
    std::shared_ptr<history_keeper> history;
    // Shared with the listener's transfers, which hand it the messages friends send, however late that is.
    std::shared_ptr<message_hub> messages = std::make_shared<message_hub>();
    program_spine spine;
    // Who is announced on the LAN, watched from start() on; null before.
    std::shared_ptr<lan_neighbours> lan;
};

[[nodiscard]] inline qvl_settings_data& settings_of(program& p) {
    return p.parts().settings;
}
[[nodiscard]] inline crypto_provider& provider_of(program& p) {
    return p.parts().provider;
}
[[nodiscard]] inline questions& questions_of(program& p) {
    return p.parts().answers;
}
[[nodiscard]] inline const name_resolver& resolver_of(program& p) {
    return p.parts().resolve;
}
[[nodiscard]] inline program_spine& spine_of(program& p) {
    return p.parts().spine;
}
[[nodiscard]] inline history_keeper& history_of(program& p) {
    return *p.parts().history;
}
[[nodiscard]] inline std::shared_ptr<lan_neighbours> lan_of(program& p) {
    return p.parts().lan;
}

} // namespace tiv::app
