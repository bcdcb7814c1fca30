#include "app/keys.h"

#include "app/internal/key_service.h"
#include "app/internal/program_parts.h"
#include "app/internal/provider_report.h"
#include "app/internal/settings/identity_service.h"

namespace tiv::app {

static_assert(default_key_bits == crypto_provider::default_key_bits);

namespace {
// `opened` after an opening of the keys, which tells the user first when the container failed unexpectedly.
status told_opening(program& p, status opened) {
    report_open_failure(provider_of(p), questions_of(p));
    return opened;
}
} // namespace

status open_keys(program& p) {
    return told_opening(p, open_keys(settings_of(p), provider_of(p)));
}

status check_user_keys(program& p) {
    return check_user_keys(settings_of(p), provider_of(p));
}

status make_first_keys(program& p, unsigned bits) {
    return told_opening(p, make_first_keys(settings_of(p), provider_of(p), bits));
}

std::optional<std::string> keys_unlike_record(program& p) {
    return keys_unlike_record(settings_of(p), provider_of(p));
}

status open_keys_for_rekey(program& p) {
    return told_opening(p, open_keys_for_rekey(settings_of(p), provider_of(p)));
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
