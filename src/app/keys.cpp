#include "app/keys.h"

#include "app/internal/key_service.h"
#include "app/internal/program_parts.h"
#include "app/internal/settings/identity_service.h"

namespace tiv::app {

static_assert(default_key_bits == crypto_provider::default_key_bits);

status open_keys(program& p) {
    return open_keys(settings_of(p), provider_of(p));
}

status check_user_keys(program& p) {
    return check_user_keys(settings_of(p), provider_of(p));
}

status make_first_keys(program& p, unsigned bits) {
    return make_first_keys(settings_of(p), provider_of(p), bits);
}

std::optional<std::string> keys_unlike_record(program& p) {
    return keys_unlike_record(settings_of(p), provider_of(p));
}

status open_keys_for_rekey(program& p) {
    return open_keys_for_rekey(settings_of(p), provider_of(p));
}

rekey_report rekey(program& p, unsigned bits) {
    return rekey(settings_of(p), provider_of(p), bits);
}

public_key_text exchange_key_text(program& p, std::size_t bytes_per_line) {
    return exchange_key_text(provider_of(p), bytes_per_line);
}

public_key_text signature_key_text(program& p, std::size_t bytes_per_line) {
    return signature_key_text(provider_of(p), bytes_per_line);
}

} // namespace tiv::app
