#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <random>

#include "net/socket/net_address.h"

namespace tiv {

class socket_thread;

// Where a connection comes from, as the limits count it: an IPv4 address, or an IPv6 /64. One host owns a whole
// /64 and may pick any address in it, so counting single IPv6 addresses would let it slip past every cap.
struct connection_source {
    std::uint64_t bits = 0; // the IPv4 address as it travels, or the /64 prefix
    bool ipv6 = false;
    auto operator<=>(const connection_source&) const = default;
};
[[nodiscard]] connection_source source_of(const net_address& peer);

// The connections whose peer has not yet proved who it is. A stranger can open connections faster than any
// exchange ends, so this phase has limits of its own and a friend never queues behind strangers:
//  - a source address has at most `per_source` connections in the phase at a time; its further ones wait their
//    turn in order (a friend sending many files at once), at most `queued_per_source` of them and
//    `queued_overall` in all;
//  - from `early_drop_start` connections in the phase on, a new connection from a source that already has one is
//    dropped at random, with a chance rising from `early_drop_percent` to certainty at `full`;
//  - a source with no connection in the phase is always heard: at `full` it takes the place of the oldest
//    connection of the source holding the most, so a friend gets through a flood from other addresses.
class admission_gate {
public:
    struct limits {
        std::size_t per_source = 16;
        std::size_t queued_per_source = 256;
        std::size_t queued_overall = 512;
        std::size_t early_drop_start = 32;
        unsigned early_drop_percent = 30;
        std::size_t full = 128;
    };

    // What became of a new connection. `evicted`, when set, lost its place to it and must be stopped.
    struct admission {
        bool admitted = false;
        const char* refusal = nullptr; // why not, in words for the log
        std::shared_ptr<socket_thread> evicted;
    };

    explicit admission_gate(limits bounds);
    admission_gate(const admission_gate&) = delete;
    admission_gate& operator=(const admission_gate&) = delete;

    // `transfer` serves the connection from `source`.
    [[nodiscard]] admission admit(connection_source source, std::shared_ptr<socket_thread> transfer);
    // Waits until the transfer's connection is in the phase; false when it lost its place, the gate closed or the
    // deadline passed first (it is then no longer counted).
    [[nodiscard]] bool wait_for_turn(const socket_thread* transfer, std::chrono::steady_clock::time_point deadline);
    // The transfer has left the phase: authenticated, failed or stopped. False when it was no longer in it: it
    // lost its place to a newcomer and is being stopped.
    bool leave(const socket_thread* transfer);
    // Wakes every waiter for good; the listener is stopping.
    void close();
    // Connections in the phase, and those waiting their turn.
    [[nodiscard]] std::size_t in_phase() const;
    [[nodiscard]] std::size_t queued() const;

private:
    struct entry {
        connection_source source;
        std::shared_ptr<socket_thread> transfer;
        bool in_phase;
    };
    struct holdings {
        std::size_t in_phase = 0;
        std::size_t queued = 0;
    };

    [[nodiscard]] holdings held_by(connection_source source) const;
    [[nodiscard]] std::size_t count_in_phase() const;
    [[nodiscard]] std::list<entry>::iterator find(const socket_thread* transfer);
    // The oldest connection in the phase of the source holding the most; entries are kept oldest first.
    [[nodiscard]] std::list<entry>::iterator oldest_of_busiest_source();
    [[nodiscard]] bool drop_at_random(std::size_t in_phase_now);
    // Removes an entry; when it was in the phase, the oldest waiting connection of its source takes its turn.
    void erase(std::list<entry>::iterator it);

    const limits m_oLimits;
    mutable std::mutex m_oLock; // guards everything below
    std::condition_variable m_oTurns;
    std::list<entry> m_aEntries;
    std::minstd_rand m_oRandom;
    bool m_bClosed = false;
};

} // namespace tiv
