#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A small registry in place of the Windows one: two roots (machine, user), each one SQLite database,
// hierarchical keys whose names compare case-insensitively (ASCII), and typed values with their sizes.
// Results are Windows error codes so callers read like the code they stand in for.
namespace tiv::reg {

using error_code = long;
inline constexpr error_code success = 0;
inline constexpr error_code file_not_found = 2;
inline constexpr error_code access_denied = 5;
inline constexpr error_code invalid_handle = 6;
inline constexpr error_code invalid_parameter = 87;
inline constexpr error_code more_data = 234;
inline constexpr error_code no_more_items = 259;
inline constexpr error_code key_deleted = 1018;
inline constexpr error_code cannot_open_hive = 1009; // ERROR_BADDB
inline constexpr error_code registry_corrupt = 1015; // ERROR_REGISTRY_CORRUPT: the database is damaged
inline constexpr error_code io_failure = 1016;       // ERROR_REGISTRY_IO_FAILED: disk full, lock time-out, I/O error

// Limits the Windows registry has too; longer names give invalid_parameter.
inline constexpr std::size_t max_key_name = 255;
inline constexpr std::size_t max_value_name = 16383;

enum value_type : std::uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_MULTI_SZ = 7,
};

enum class root { machine, user };

class hive;

// An open key. Move-only; closing (or destruction) releases it. A default key is "none":
// every operation on it fails with invalid_handle. Keys may be used from several threads.
class key {
public:
    key() = default;
    key(std::shared_ptr<hive> owner, std::int64_t id);
    key(const key&) = delete;
    key& operator=(const key&) = delete;
    key(key&&) noexcept = default;
    key& operator=(key&&) noexcept = default;
    ~key() = default;

    explicit operator bool() const { return m_pHive != nullptr; }
    void close();

    [[nodiscard]] hive* owner() const { return m_pHive.get(); }
    [[nodiscard]] const std::shared_ptr<hive>& shared_owner() const { return m_pHive; }
    [[nodiscard]] std::int64_t id() const { return m_nId; }

private:
    std::shared_ptr<hive> m_pHive;
    std::int64_t m_nId = 0;
};

// Opens the root key of a hive, creating the database file (mode 0600, in a directory of mode 0700) when it is
// missing. A hive this user may read but not write opens read-only: its values read as usual and every change to
// it gives access_denied (see is_read_only). A hive that cannot be read yields access_denied, one that is damaged
// cannot_open_hive or registry_corrupt. The user hive and its journals, when this user owns them, are made 0600.
// Keys of one process share one connection per hive file; the location is looked up on every call, so a
// changed QUORVEL_HOME applies to the next open_root while keys already open stay with their hive.
// After fork() the child opens its own connection; keys it inherited must not be used (nor closed) there.
// Hives are locked by open file description (see registry_locks.h): any other descriptor this process opens and
// closes on a hive file leaves them in place. A hive fails to open (cannot_open_hive) when SQLite cannot lock so.
[[nodiscard]] error_code open_root(root which, key& out);

// `subkey` may name several levels separated by '\'; an empty subkey opens the key itself again.
[[nodiscard]] error_code open_key(const key& parent, std::string_view subkey, key& out);
[[nodiscard]] error_code create_key(const key& parent, std::string_view subkey, key& out, bool* created = nullptr);

// RegQueryValueEx: `data` may be null to ask for the size; a buffer smaller than the value gives
// more_data with the needed size in *size. `type` may be null.
[[nodiscard]] error_code query_value(const key& k, std::string_view name, std::uint32_t* type, void* data,
                                     std::uint32_t* size);
// RegSetValueEx: stores exactly `size` bytes under `type`, replacing any value of that name, in one transaction.
[[nodiscard]] error_code set_value(const key& k, std::string_view name, std::uint32_t type, const void* data,
                                   std::uint32_t size);
[[nodiscard]] error_code delete_value(const key& k, std::string_view name);

// RegEnumKeyEx: subkey `index` in a stable order (case-insensitive name order). *name_size is the
// buffer's capacity in characters on entry and the name's length on success; a name that does not fit
// with its NUL gives more_data and leaves *name_size as it was. Past the end: no_more_items.
[[nodiscard]] error_code enum_key(const key& k, std::uint32_t index, char* name, std::uint32_t* name_size);

// Every value of a key in a stable order (case-insensitive name order), for export.
struct value_entry {
    std::string name;
    std::uint32_t type = REG_NONE;
    std::vector<std::uint8_t> data;
};
[[nodiscard]] error_code enum_values(const key& k, std::vector<value_entry>& out);
// Every direct subkey name in enumeration order.
[[nodiscard]] error_code enum_key_names(const key& k, std::vector<std::string>& out);

// RegDeleteKey: deletes a subkey that has no subkeys of its own, with its values.
[[nodiscard]] error_code delete_key(const key& parent, std::string_view subkey);

// True when the key's hive was opened read-only because this user may not write its file.
[[nodiscard]] bool is_read_only(const key& k);

// Where a root's database lives (for messages and the README's promises).
[[nodiscard]] std::string hive_location(root which);

} // namespace tiv::reg
