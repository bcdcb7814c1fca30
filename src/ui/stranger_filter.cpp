#include "ui/stranger_filter.h"

#include <algorithm>

namespace tiv::ui {

std::vector<app::transfer_view> StrangerFilter::friendsOnly(std::vector<app::transfer_view> rows) {
    std::unordered_set<std::uint64_t> listed;
    std::erase_if(rows, [this, &listed](const app::transfer_view& row) {
        if (!row.friend_name.empty()) {
            return false;
        }
        if (row.finished) {
            listed.insert(row.id);
            m_nRefused += m_aCounted.insert(row.id).second ? 1 : 0;
        }
        return true;
    });
    std::erase_if(m_aCounted, [&listed](std::uint64_t id) { return !listed.contains(id); });
    return rows;
}

std::string StrangerFilter::refusedText() const {
    if (m_nRefused == 0) {
        return {};
    }
    return m_nRefused == 1
               ? "1 connection from an unknown sender refused; see the activity log"
               : std::to_string(m_nRefused) + " connections from unknown senders refused; see the activity log";
}

} // namespace tiv::ui
