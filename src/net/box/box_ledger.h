#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tiv {

// The entries a parcel box holds: its regular files and directories and those in the folders below it (down to
// max_folder_depth, never through a link), less our temporary files and kept parts (0 when it cannot be read).
// Other names with a leading dot count like any file, as a friend may send one and must not get past the limit
// that way. A walk of the whole box: the ledger below calls it rarely, nothing else should call it per parcel.
[[nodiscard]] std::uint64_t count_box_entries(const std::string& box);

// What each parcel box holds, kept in memory for all transfers of one listener: a box is walked once, at its
// first use with a limit, and then only when it looks full, at most once per `refresh_every`, since the user may
// have deleted files meanwhile. Entries on their way in are reserved before their data flows, so parallel
// transfers cannot pass a limit together; a reservation not used up is given back when it ends.
class box_ledger {
    struct box_count;

public:
    static constexpr std::chrono::milliseconds default_refresh{2000};

    explicit box_ledger(std::chrono::milliseconds refresh_every = default_refresh) : m_oRefresh(refresh_every) {}
    box_ledger(const box_ledger&) = delete;
    box_ledger& operator=(const box_ledger&) = delete;

    // Entries of one box set aside for a parcel on its way in.
    class reservation {
    public:
        reservation() = default;
        reservation(reservation&& other) noexcept;
        reservation& operator=(reservation&& other) noexcept;
        reservation(const reservation&) = delete;
        reservation& operator=(const reservation&) = delete;
        ~reservation() { release(); }

        // `entries` of those reserved now stand in the box (never more than are left).
        void stored(std::uint64_t entries = 1);
        // Gives back what is left.
        void release();
        [[nodiscard]] std::uint64_t left() const { return m_nLeft; }

    private:
        friend class box_ledger;
        std::shared_ptr<box_count> m_pBox;
        std::uint64_t m_nLeft = 0;
    };

    // Reserves `entries` in `box` when they fit `limit` (unlimited: always), beside what it holds and what others
    // reserved. When they do not fit, none is reserved and `held` says how many the box counts (held and
    // reserved).
    [[nodiscard]] std::optional<reservation> reserve(const std::string& box, std::uint64_t entries, std::uint64_t limit,
                                                     std::uint64_t& held);

private:
    [[nodiscard]] std::shared_ptr<box_count> count_of(const std::string& box);

    const std::chrono::milliseconds m_oRefresh;
    std::mutex m_oLock; // over the map only; each box has its own
    std::map<std::string, std::shared_ptr<box_count>> m_oBoxes;
};

} // namespace tiv
