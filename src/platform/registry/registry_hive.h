#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/registry/registry_sqlite.h"

namespace tiv::reg {

// One hive: one SQLite database of keys and values. Keys are rows identified by a number that is never
// reused, so a handle to a deleted key keeps failing even after a key of the same name comes back.
// Every operation takes the hive's mutex: one connection cannot run two transactions at once, and keys
// of one hive are used from several threads.
class hive {
public:
    static constexpr std::int64_t root_id = 1;

    // The open hive for `path`, shared by every key of this process that uses it; opened (and created
    // with its directory when missing) on first use.
    [[nodiscard]] static error_code open(const std::string& path, std::shared_ptr<hive>& out);

    hive(const hive&) = delete;
    hive& operator=(const hive&) = delete;
    ~hive() = default;

    [[nodiscard]] const std::string& path() const { return m_strPath; }
    // Opened for reading only, because this user may not write the file.
    [[nodiscard]] bool read_only() const { return m_bReadOnly; }

    // `levels` are already-checked key names below `start`.
    [[nodiscard]] error_code find_key(std::int64_t start, const std::vector<std::string_view>& levels,
                                      std::int64_t& id);
    [[nodiscard]] error_code create_key(std::int64_t start, const std::vector<std::string_view>& levels,
                                        std::int64_t& id, bool& created);
    // Deletes the key at `levels` below `start` with its values, unless it has subkeys.
    [[nodiscard]] error_code delete_key(std::int64_t start, const std::vector<std::string_view>& levels);

    // Reports the value's type and size; copies the data into `destination` only when it is not null
    // and `capacity` holds the whole value.
    [[nodiscard]] error_code read_value(std::int64_t id, std::string_view name, std::uint32_t& type,
                                        std::uint32_t& size, void* destination, std::uint32_t capacity);
    [[nodiscard]] error_code write_value(std::int64_t id, std::string_view name, std::uint32_t type, const void* data,
                                         std::uint32_t size);
    [[nodiscard]] error_code delete_value(std::int64_t id, std::string_view name);

    [[nodiscard]] error_code subkey_at(std::int64_t id, std::uint32_t index, std::string& name);
    [[nodiscard]] error_code subkey_names(std::int64_t id, std::vector<std::string>& names);
    [[nodiscard]] error_code values(std::int64_t id, std::vector<value_entry>& entries);

private:
    hive(std::string path, sqlite::connection db, bool read_only);

    [[nodiscard]] static error_code open_database(const std::string& path, sqlite::connection& db, bool& read_only);
    [[nodiscard]] static error_code open_read_only(const std::string& path, sqlite::connection& db);

    // The following expect m_oMutex to be held.
    [[nodiscard]] error_code key_status(std::int64_t id);
    // A write starts only when its transaction has begun and the key it changes still exists.
    [[nodiscard]] error_code begun_on_live_key(const sqlite::write_transaction& transaction, std::int64_t id);
    [[nodiscard]] error_code child(std::int64_t parent, std::string_view name, std::int64_t& id);
    [[nodiscard]] error_code walk(std::int64_t start, const std::vector<std::string_view>& levels, std::int64_t& id);

    std::string m_strPath;
    sqlite::connection m_pDb;
    // A connection inherited through fork() must not be used by the child, so the cache hands a hive
    // only to the process that opened it.
    pid_t m_nProcess;
    bool m_bReadOnly;
    std::mutex m_oMutex;
};

// SQLite's result code as the error code callers see.
[[nodiscard]] error_code status_from_sqlite(int rc);

} // namespace tiv::reg
