#include "crypto/session_ticket_cache.h"

#include <map>
#include <mutex>

namespace tiv {

namespace {
std::mutex cache_lock;
std::map<ticket_slot, session_ticket>& cache() {
    static std::map<ticket_slot, session_ticket> sessions;
    return sessions;
}
} // namespace

std::optional<session_ticket> find_session_ticket(const std::string& key_directory, const ticket_slot& slot,
                                                  std::int64_t now) {
    {
        std::lock_guard guard(cache_lock);
        const auto found = cache().find(slot);
        if (found != cache().end()) {
            if (found->second.expires > now) {
                return found->second;
            }
            cache().erase(found);
        }
    }
    auto saved = read_ticket_file(key_directory, slot, now);
    if (saved) {
        std::lock_guard guard(cache_lock);
        cache().insert_or_assign(slot, *saved);
    }
    return saved;
}

void keep_session_ticket(const std::string& key_directory, const ticket_slot& slot, const session_ticket& ticket) {
    {
        std::lock_guard guard(cache_lock);
        cache().insert_or_assign(slot, ticket);
    }
    write_ticket_file(key_directory, slot, ticket);
}

void forget_session_ticket(const std::string& key_directory, const ticket_slot& slot) {
    {
        std::lock_guard guard(cache_lock);
        cache().erase(slot);
    }
    remove_ticket_file(key_directory, slot);
}

} // namespace tiv
