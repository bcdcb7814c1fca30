#include "net/socket/admission_gate.h"

#include <algorithm>
#include <map>

namespace tiv {

connection_source source_of(const net_address& peer) {
    const net_address plain = unmapped(peer);
    if (!plain.is_ipv6()) {
        return {.bits = plain.endpoint.v4.sin_addr.s_addr, .ipv6 = false};
    }
    std::uint64_t prefix = 0;
    for (int i = 0; i < 8; ++i) {
        prefix = (prefix << 8) | plain.endpoint.v6.sin6_addr.s6_addr[i];
    }
    return {.bits = prefix, .ipv6 = true};
}

admission_gate::admission_gate(limits bounds) : m_oLimits(bounds), m_oRandom(std::random_device{}()) {}

admission_gate::holdings admission_gate::held_by(connection_source source) const {
    holdings held;
    for (const entry& e : m_aEntries) {
        if (e.source == source) {
            ++(e.in_phase ? held.in_phase : held.queued);
        }
    }
    return held;
}

std::size_t admission_gate::count_in_phase() const {
    return static_cast<std::size_t>(
        std::count_if(m_aEntries.begin(), m_aEntries.end(), [](const entry& e) { return e.in_phase; }));
}

std::list<admission_gate::entry>::iterator admission_gate::find(const socket_thread* transfer) {
    return std::find_if(m_aEntries.begin(), m_aEntries.end(),
                        [transfer](const entry& e) { return e.transfer.get() == transfer; });
}

std::list<admission_gate::entry>::iterator admission_gate::oldest_of_busiest_source() {
    std::map<connection_source, std::size_t> held;
    for (const entry& e : m_aEntries) {
        held[e.source] += e.in_phase ? 1 : 0;
    }
    const auto busiest =
        std::max_element(held.begin(), held.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    return std::find_if(m_aEntries.begin(), m_aEntries.end(),
                        [source = busiest->first](const entry& e) { return e.in_phase && e.source == source; });
}

bool admission_gate::drop_at_random(std::size_t in_phase_now) {
    if (in_phase_now < m_oLimits.early_drop_start) {
        return false;
    }
    if (in_phase_now >= m_oLimits.full) {
        return true;
    }
    const std::size_t span = m_oLimits.full - m_oLimits.early_drop_start;
    const std::size_t over = in_phase_now - m_oLimits.early_drop_start;
    const unsigned base = m_oLimits.early_drop_percent;
    const auto chance = static_cast<unsigned>(base + (100 - base) * over / span);
    return std::uniform_int_distribution<unsigned>(0, 99)(m_oRandom) < chance;
}

void admission_gate::erase(std::list<entry>::iterator it) {
    const connection_source source = it->source;
    const bool had_turn = it->in_phase;
    m_aEntries.erase(it);
    if (!had_turn) {
        return;
    }
    const auto next = std::find_if(m_aEntries.begin(), m_aEntries.end(),
                                   [source](const entry& e) { return !e.in_phase && e.source == source; });
    if (next != m_aEntries.end()) {
        next->in_phase = true;
        m_oTurns.notify_all();
    }
}

admission_gate::admission admission_gate::admit(connection_source source, std::shared_ptr<socket_thread> transfer) {
    admission result;
    std::lock_guard guard(m_oLock);
    if (m_bClosed) {
        result.refusal = "the listener is stopping";
        return result;
    }
    const holdings held = held_by(source);
    const std::size_t in_phase_now = count_in_phase();
    if (held.in_phase + held.queued > 0 && drop_at_random(in_phase_now)) {
        result.refusal = "too many unauthenticated connections";
        return result;
    }
    const bool takes_turn = held.in_phase < m_oLimits.per_source;
    if (!takes_turn &&
        (held.queued >= m_oLimits.queued_per_source || m_aEntries.size() - in_phase_now >= m_oLimits.queued_overall)) {
        result.refusal = "too many connections from one address waiting to authenticate";
        return result;
    }
    if (takes_turn && in_phase_now >= m_oLimits.full) {
        // Not erase(): the evicted source's next connection must not take the turn the newcomer came for.
        const auto oldest = oldest_of_busiest_source();
        result.evicted = std::move(oldest->transfer);
        m_aEntries.erase(oldest);
    }
    m_aEntries.push_back({source, std::move(transfer), takes_turn});
    result.admitted = true;
    return result;
}

bool admission_gate::wait_for_turn(const socket_thread* transfer, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_oLock);
    const auto has_turn = [this, transfer] {
        const auto it = find(transfer);
        return m_bClosed || it == m_aEntries.end() || it->in_phase;
    };
    const bool decided = m_oTurns.wait_until(lock, deadline, has_turn);
    const auto it = find(transfer);
    if (decided && !m_bClosed && it != m_aEntries.end()) {
        return true;
    }
    if (it != m_aEntries.end()) {
        erase(it);
    }
    return false;
}

bool admission_gate::leave(const socket_thread* transfer) {
    std::lock_guard guard(m_oLock);
    const auto it = find(transfer);
    if (it == m_aEntries.end()) {
        return false;
    }
    erase(it);
    return true;
}

void admission_gate::close() {
    std::lock_guard guard(m_oLock);
    m_bClosed = true;
    m_oTurns.notify_all();
}

std::size_t admission_gate::in_phase() const {
    std::lock_guard guard(m_oLock);
    return count_in_phase();
}

std::size_t admission_gate::queued() const {
    std::lock_guard guard(m_oLock);
    return m_aEntries.size() - count_in_phase();
}

} // namespace tiv
