#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/transfer_view.h"

namespace tiv::ui {

// Keeps connections that never proved who sent them out of a list of deliveries, where a flood of them would push
// the friends' parcels out of view, and counts those turned away instead.
class StrangerFilter {
public:
    // The rows whose sender is known; each stranger's connection that has ended is counted once.
    [[nodiscard]] std::vector<app::transfer_view> friendsOnly(std::vector<app::transfer_view> rows);
    // "12 connections from unknown senders refused; see the activity log"; empty while there are none.
    [[nodiscard]] std::string refusedText() const;
    void reset() { m_nRefused = 0; }

private:
    std::size_t m_nRefused = 0;
    // The ended strangers still listed that were counted: a row is counted once however many refreshes see it.
    std::unordered_set<std::uint64_t> m_aCounted;
};

} // namespace tiv::ui
