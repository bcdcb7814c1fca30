#include "crypto/tls_ticket_keys.h"

#include <algorithm>
#include <deque>
#include <mutex>

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "platform/crypto_backend/openssl_util.h"

namespace tiv {

namespace {
struct entry {
    cryptoapi::pkey_ptr key;
    tls_ticket_keys keys;
    ~entry() { OPENSSL_cleanse(keys.data(), keys.size()); }
    entry(cryptoapi::pkey_ptr k, const tls_ticket_keys& made) : key(std::move(k)), keys(made) {}
    entry(entry&&) = default;
    entry& operator=(entry&&) = default;
};

// One entry per own key, as for the certificates: identities in one process (tests, a rekey) never share keys.
struct ticket_key_sets {
    std::mutex lock;
    std::deque<entry> sets;
};

ticket_key_sets& process_sets() {
    static ticket_key_sets kept;
    return kept;
}
} // namespace

bool ticket_keys_for(EVP_PKEY* own, tls_ticket_keys& keys) {
    constexpr std::size_t keys_kept = 16;
    auto& [lock, sets] = process_sets();
    std::lock_guard guard(lock);
    auto found =
        std::find_if(sets.begin(), sets.end(), [own](const entry& e) { return EVP_PKEY_eq(e.key.get(), own) == 1; });
    if (found == sets.end()) {
        tls_ticket_keys made{};
        if (RAND_priv_bytes(made.data(), static_cast<int>(made.size())) != 1 || EVP_PKEY_up_ref(own) != 1) {
            return false;
        }
        if (sets.size() == keys_kept) {
            sets.pop_front();
        }
        sets.emplace_back(cryptoapi::pkey_ptr(own), made);
        OPENSSL_cleanse(made.data(), made.size());
        found = std::prev(sets.end());
    }
    keys = found->keys;
    return true;
}

void forget_ticket_keys(EVP_PKEY* own) {
    auto& [lock, sets] = process_sets();
    std::lock_guard guard(lock);
    std::erase_if(sets, [own](const entry& e) { return EVP_PKEY_eq(e.key.get(), own) == 1; });
}

} // namespace tiv
