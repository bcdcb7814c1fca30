#include "app/internal/history/history_keeper.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <span>
#include <unistd.h>

#include "app/history.h"
#include "app/internal/history/history_record.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::app {

namespace {
// Rows to a value: a value stays small enough to rewrite cheaply, and a damaged one costs few rows.
constexpr std::size_t rows_per_value = 256;
constexpr std::int64_t seconds_per_day = 24 * 60 * 60;

bool worth_keeping(const transfer_view& row) {
    const bool file_known =
        row.direction == transfer_direction::sending || row.state >= transfer_state::verifying_permissions;
    return row.finished && !row.friend_name.empty() && file_known;
}

std::int64_t newest_end(std::span<const transfer_view> rows) {
    std::int64_t newest = 0;
    for (const transfer_view& row : rows) {
        newest = std::max(newest, row.end_time);
    }
    return newest;
}
} // namespace

history_keeper::history_keeper(const reg::key& user_key, const time_source& clock)
    : m_oUserKey(user_key.shared_owner(), user_key.id()), m_oClock(clock), m_oWriter([this] { write_queued(); }) {}

history_keeper::~history_keeper() {
    {
        const std::lock_guard guard(m_oLock);
        m_bStopping = true;
    }
    m_oWake.notify_all();
    m_oWriter.join();
}

void history_keeper::record(const transfer_view& row) {
    if (!worth_keeping(row)) {
        return;
    }
    {
        const std::lock_guard guard(m_oLock);
        m_aQueued.push_back(row);
        ++m_nRecorded;
    }
    m_oWake.notify_one();
}

void history_keeper::flush() {
    std::unique_lock guard(m_oLock);
    const std::uint64_t target = m_nRecorded;
    m_oWritten.wait(guard, [&] { return m_nDone >= target; });
}

std::uint32_t history_keeper::kept_days() const {
    return read_dword_setting(m_oUserKey, names::history_days).value_or(default_history_days);
}

void history_keeper::write_queued() {
    for (;;) {
        std::vector<transfer_view> batch;
        std::uint64_t first_sequence = 0;
        {
            std::unique_lock guard(m_oLock);
            m_oWake.wait(guard, [&] { return m_bStopping || !m_aQueued.empty(); });
            if (m_aQueued.empty()) {
                return;
            }
            batch.swap(m_aQueued);
            first_sequence = m_nSequence;
            m_nSequence += (batch.size() + rows_per_value - 1) / rows_per_value;
        }
        reg::key history;
        if (kept_days() > 0 && reg::create_key(m_oUserKey, names::history, history) == reg::success) {
            const std::span<const transfer_view> rows(batch);
            for (std::size_t at = 0; at < rows.size(); at += rows_per_value) {
                const std::span<const transfer_view> part =
                    rows.subspan(at, std::min(rows_per_value, rows.size() - at));
                const std::vector<std::uint8_t> bytes = encode_history_record(part);
                // Named by time first, so the names sort as the rows ended, then apart from other processes' values.
                char name[64];
                std::snprintf(name, sizeof name, "%012lld-%ld-%llu", static_cast<long long>(newest_end(part)),
                              static_cast<long>(::getpid()),
                              static_cast<unsigned long long>(first_sequence + at / rows_per_value));
                (void)reg::set_value(history, name, reg::REG_BINARY, bytes.data(),
                                     static_cast<std::uint32_t>(bytes.size()));
            }
        }
        {
            const std::lock_guard guard(m_oLock);
            m_nDone += batch.size();
        }
        ++m_nGeneration;
        m_oWritten.notify_all();
    }
}

std::vector<transfer_view> history_keeper::read() {
    std::vector<transfer_view> rows;
    reg::key history;
    std::vector<reg::value_entry> values;
    if (reg::open_key(m_oUserKey, names::history, history) != reg::success ||
        reg::enum_values(history, values) != reg::success) {
        return rows;
    }
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(m_oClock.calendar().time_since_epoch()).count();
    const std::int64_t oldest_kept = now - static_cast<std::int64_t>(kept_days()) * seconds_per_day;
    bool deleted = false;
    for (const reg::value_entry& value : values) {
        const std::optional<std::vector<transfer_view>> stored =
            value.type == reg::REG_BINARY ? decode_history_record(value.data) : std::nullopt;
        if (!stored) {
            continue; // not ours to judge: left as it is
        }
        if (newest_end(*stored) < oldest_kept) {
            deleted = reg::delete_value(history, value.name) == reg::success || deleted;
            continue;
        }
        std::copy_if(stored->begin(), stored->end(), std::back_inserter(rows),
                     [&](const transfer_view& row) { return row.end_time >= oldest_kept; });
    }
    if (deleted) {
        ++m_nGeneration;
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const transfer_view& a, const transfer_view& b) { return a.end_time > b.end_time; });
    return rows;
}

status history_keeper::clear() {
    flush();
    reg::key history;
    std::vector<reg::value_entry> values;
    const reg::error_code opened = reg::open_key(m_oUserKey, names::history, history);
    if (opened == reg::file_not_found) {
        return {};
    }
    if (opened != reg::success || reg::enum_values(history, values) != reg::success) {
        return status(status_code::io_failure,
                      "The parcel history in " + reg::hive_location(reg::root::user) + " cannot be read.");
    }
    for (const reg::value_entry& value : values) {
        if (reg::delete_value(history, value.name) != reg::success) {
            return status(status_code::io_failure, "The parcel history in " + reg::hive_location(reg::root::user) +
                                                       " cannot be cleared: the settings file refused the change.");
        }
    }
    ++m_nGeneration;
    return {};
}

} // namespace tiv::app
