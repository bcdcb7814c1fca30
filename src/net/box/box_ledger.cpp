#include "net/box/box_ledger.h"

#include <string_view>
#include <utility>

#include "net/box/parcel_names.h"
#include "net/box/parcel_tree_walk.h"
#include "net/stream/received_folder.h"
#include "settings/friend_profile.h"

namespace tiv {

std::uint64_t count_box_entries(const std::string& box) {
    std::uint64_t count = 0;
    // A folder shaped like one of our files is walked all the same: it must not hide what it holds from the count.
    walk_regular_files(
        open_walk_root(box), box, static_cast<int>(max_folder_depth),
        [](std::string_view name) { return !is_temporary_parcel_name(name) && !is_kept_part_name(name); },
        [&](int, const std::string&, const std::string&) { ++count; }, [&] { ++count; });
    return count;
}

struct box_ledger::box_count {
    std::mutex lock;
    bool walked = false;
    std::uint64_t held = 0;
    std::uint64_t reserved = 0;
    std::chrono::steady_clock::time_point walked_at{};
};

box_ledger::reservation::reservation(reservation&& other) noexcept
    : m_pBox(std::move(other.m_pBox)), m_nLeft(std::exchange(other.m_nLeft, 0)) {}

box_ledger::reservation& box_ledger::reservation::operator=(reservation&& other) noexcept {
    if (this != &other) {
        release();
        m_pBox = std::move(other.m_pBox);
        m_nLeft = std::exchange(other.m_nLeft, 0);
    }
    return *this;
}

void box_ledger::reservation::stored(std::uint64_t entries) {
    if (m_pBox == nullptr) {
        return;
    }
    entries = std::min(entries, m_nLeft);
    const std::lock_guard guard(m_pBox->lock);
    m_pBox->reserved -= entries;
    m_pBox->held += entries;
    m_nLeft -= entries;
}

void box_ledger::reservation::release() {
    if (m_pBox == nullptr) {
        return;
    }
    {
        const std::lock_guard guard(m_pBox->lock);
        m_pBox->reserved -= m_nLeft;
    }
    m_nLeft = 0;
    m_pBox.reset();
}

std::shared_ptr<box_ledger::box_count> box_ledger::count_of(const std::string& box) {
    const std::lock_guard guard(m_oLock);
    std::shared_ptr<box_count>& count = m_oBoxes[box];
    if (count == nullptr) {
        count = std::make_shared<box_count>();
    }
    return count;
}

std::optional<box_ledger::reservation> box_ledger::reserve(const std::string& box, std::uint64_t entries,
                                                           std::uint64_t limit, std::uint64_t& held) {
    const std::shared_ptr<box_count> count = count_of(box);
    // The walks happen under the box's own lock: other boxes go on, and this box's transfers wait for the one
    // count rather than each walking it.
    const std::lock_guard guard(count->lock);
    const auto walk = [&] {
        count->held = count_box_entries(box);
        count->walked = true;
        count->walked_at = std::chrono::steady_clock::now();
    };
    const auto fits = [&] {
        const std::uint64_t taken = count->held + count->reserved;
        return taken <= limit && entries <= limit - taken;
    };
    if (limit != unlimited) {
        if (!count->walked) {
            walk();
        } else if (!fits() && std::chrono::steady_clock::now() - count->walked_at >= m_oRefresh) {
            // Files the user deleted since show only in a walk; a full box is the one place that matters.
            walk();
        }
        if (!fits()) {
            held = count->held + count->reserved;
            return std::nullopt;
        }
    }
    count->reserved += entries;
    reservation slot;
    slot.m_pBox = count;
    slot.m_nLeft = entries;
    return slot;
}

} // namespace tiv
