#include "crypto/session_ticket_cache.h"

#include <map>
#include <mutex>

namespace tiv {

namespace {
// Every connection brings a fresh session, but an older one stays good until it expires: the file is rewritten
// (with its flush to disk) at most this often, so a send of many small files does not wait on the disk per file.
constexpr std::int64_t rewrite_after_seconds = 600;

struct remembered {
    session_ticket ticket;
    std::int64_t written = 0; // when the file last got a session of this process; 0 for one read from the file
};

std::mutex cache_lock;
std::map<ticket_slot, remembered>& cache() {
    static std::map<ticket_slot, remembered> sessions;
    return sessions;
}
} // namespace

std::optional<session_ticket> find_session_ticket(const std::string& key_directory, const ticket_slot& slot,
                                                  std::int64_t now) {
    {
        std::lock_guard guard(cache_lock);
        const auto found = cache().find(slot);
        if (found != cache().end()) {
            if (found->second.ticket.expires > now) {
                return found->second.ticket;
            }
            cache().erase(found);
        }
    }
    auto saved = read_ticket_file(key_directory, slot, now);
    if (saved) {
        std::lock_guard guard(cache_lock);
        cache().insert_or_assign(slot, remembered{*saved, 0});
    }
    return saved;
}

void keep_session_ticket(const std::string& key_directory, const ticket_slot& slot, const session_ticket& ticket,
                         std::int64_t now) {
    {
        std::lock_guard guard(cache_lock);
        remembered& entry = cache()[slot];
        entry.ticket = ticket;
        if (entry.written != 0 && now - entry.written < rewrite_after_seconds) {
            return;
        }
        entry.written = now;
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
