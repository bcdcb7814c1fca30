#include "cli/user_keys.h"

#include "cli/cli.h"
#include "crypto/crypto_provider.h"
#include "settings/qvl_settings_data.h"

namespace tiv::cli {

crypto_provider* open_user_keys(qvl_settings_data& settings, command_io& io) {
    settings.load_settings();
    if (settings.text(text_setting::user_uuid).empty()) {
        fail(io, exit_failure, "this user has no identity yet; run 'quorvel-cli init' first.");
        return nullptr;
    }
    crypto_provider& provider = process_crypto_provider();
    provider.open(settings.number(number_setting::machine_key_types));
    return &provider;
}

} // namespace tiv::cli
