#pragma once

#include <array>

#include <openssl/evp.h>

namespace tiv {

// What OpenSSL takes as the keys that seal the sessions a server hands out: a name, a MAC key and a cipher key.
using tls_ticket_keys = std::array<unsigned char, 80>;

// The keys for sessions handed out under `own`, shared by every connection of this process so a session sealed on
// one opens on the next. Made at random when first needed and never written anywhere: a restarted program, or a new
// own key after a rekey, has other keys, and sessions sealed before then fall back to a full handshake.
[[nodiscard]] bool ticket_keys_for(EVP_PKEY* own, tls_ticket_keys& keys);

// Drops the keys made for `own`, once `own` was replaced: a session sealed under them then never opens again, even
// should the old key come back, and the keys no longer linger in memory beside a key that may have leaked.
void forget_ticket_keys(EVP_PKEY* own);

} // namespace tiv
