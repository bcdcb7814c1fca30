#pragma once

#include "app/internal/only.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/keys.h"
#include "app/status.h"
#include "crypto/crypto_provider.h"
#include "settings/qvl_settings_data.h"

// The user's keys on settings and a provider of their own; the front ends reach them through keys.h.
namespace tiv::app {

// The user's keys opened for every use but making them: nothing is ever created here. keys_unavailable, naming
// the file, the reason and the way out, when a key file is missing, damaged or open to others; a missing file
// reads as lost (way out: rekey) once keys were recorded as made for this user, as not made yet (way out: init)
// otherwise. Keys found whole whose fingerprints were never recorded are recorded now.
[[nodiscard]] status open_user_keys(const qvl_settings_data& settings, crypto_provider& provider);

// The first run's keys: opened as open_user_keys does, and made, of `bits`, only when this user never had any;
// their fingerprints are recorded in the user settings. Keys that were lost, damaged or exposed are not replaced
// here (that is rekey's, at the user's word): open_user_keys' reason is returned.
[[nodiscard]] status make_first_keys(const qvl_settings_data& settings, crypto_provider& provider, unsigned bits);

// When the keys opened are whole but not the ones this user last made (say, key files brought back from an old
// backup), what that means for the user's friends and what to do; nothing otherwise.
[[nodiscard]] std::optional<std::string> keys_unlike_record(const qvl_settings_data& settings,
                                                            crypto_provider& provider);

// What open_user_keys said, for a provider that was opened earlier: ok when it is ready.
[[nodiscard]] status check_user_keys(const qvl_settings_data& settings, const crypto_provider& provider);

// The user's keys opened for replacing (the container made when it is missing, whatever pair is missing or
// unusable is about to be replaced): no_identity before set-up, keys_unavailable when the container cannot be
// opened.
[[nodiscard]] status open_keys_for_rekey(qvl_settings_data& settings, crypto_provider& provider);

// Replaces both key pairs of `bits`; the provider's readiness is recomputed and the new fingerprints recorded in
// the user settings. keys_unavailable in the outcome when the container is not open (nothing was tried) or a pair
// could not be made (its old pair stays in place); io_failure when the fingerprints could not be recorded.
[[nodiscard]] rekey_report rekey(const qvl_settings_data& settings, crypto_provider& provider, unsigned bits);

// The machine's key type policy, written and applied to the provider at once (less the types OpenSSL does not
// offer here), so the next authentication uses it.
[[nodiscard]] status set_key_type_policy(qvl_settings_data& settings, crypto_provider& provider, std::uint32_t mask);

[[nodiscard]] public_key_text exchange_key_text(crypto_provider& provider, std::size_t bytes_per_line);
[[nodiscard]] public_key_text signature_key_text(crypto_provider& provider, std::size_t bytes_per_line);

} // namespace tiv::app
