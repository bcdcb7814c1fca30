#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "core/owned_buffer.h"
#include "platform/registry/registry.h"

namespace tiv {

// Opens (creating when missing) Software\Velmora\Quorvel\Version 1.2 below a root. In a read-only hive the key
// is opened as it stands and never created. A key that cannot be opened is none: reads from it count as missing,
// writes have no effect; `result` says why.
[[nodiscard]] reg::key open_version_key(reg::root which, reg::error_code& result);
[[nodiscard]] reg::key open_version_key(reg::root which);

class registry_manager {
public:
    registry_manager();
    registry_manager(const registry_manager&) = delete;
    registry_manager& operator=(const registry_manager&) = delete;
    virtual ~registry_manager();

    [[nodiscard]] const reg::key& machine_key() const { return m_oMachineKey; }
    [[nodiscard]] const reg::key& user_key() const { return m_oUserKey; }
    [[nodiscard]] const reg::key& key_of(reg::root hive) const {
        return hive == reg::root::machine ? m_oMachineKey : m_oUserKey;
    }

    // What a user must be told about the machine settings: a file that cannot be used (missing, damaged or
    // unreadable, so every machine value reads as missing) or one that is read-only for this user. Names the file.
    [[nodiscard]] std::optional<std::string> machine_settings_notice() const;

protected:
    reg::key m_oMachineKey;
    reg::key m_oUserKey;
    reg::error_code m_nMachineOpenResult = reg::success;
};

enum class text_setting : std::size_t {
    current_csp,
    external_name,
    interface_ip_address,
    user_uuid,
    user_name,
    parcel_box_directory_root,
    count_
};

enum class number_setting : std::size_t {
    machine_key_types,
    user_key_types,
    provider_key_types,
    listening_port,
    io_block_size,
    kept_part_days,
    count_
};

// Where a setting is stored: the hive and the value's name in its "Version 1.2" key. The load, the saves and the
// first-run defaults all look here, so no setting is written where it is never read.
struct setting_place {
    reg::root hive;
    const char* name;
};
[[nodiscard]] setting_place place_of(text_setting which);
[[nodiscard]] setting_place place_of(number_setting which);

// What the load accepts of the machine's numbers. A transfer allocates about twice its block size, so a block size
// outside these bounds is brought to the nearer one; a port outside 1 to 65535 reads as missing, since a listener
// on a port the user never chose would be no use to friends.
inline constexpr std::uint32_t smallest_io_block_size = 512;
inline constexpr std::uint32_t largest_io_block_size = 1024 * 1024;
[[nodiscard]] std::uint32_t clamped_io_block_size(std::uint32_t stored);
// How long the user's receivers keep the part of a broken transfer when "KeptPartDays" is missing: a week lets a
// sender who was away for a weekend still continue where the transfer broke.
inline constexpr std::uint32_t default_kept_part_days = 7;
[[nodiscard]] bool is_valid_listening_port(std::uint32_t port);

// The process-wide settings object: the open keys and an in-memory copy of every setting.
// Transfer threads read it while dialogs change it, so texts are handed out as copies under a lock
// and numbers are atomics.
class qvl_settings_data : public registry_manager {
public:
    qvl_settings_data();
    ~qvl_settings_data() override;

    // Reads every setting from the registry; missing values take the defaults of the load order.
    void load_settings();

    [[nodiscard]] const reg::key& profile_list_key() const { return m_oProfileListKey; }

    // An absent text reads as the empty text.
    [[nodiscard]] std::string text(text_setting which) const;
    [[nodiscard]] bool has_text(text_setting which) const;
    void set_text(text_setting which, const std::string& value);

    [[nodiscard]] std::uint32_t number(number_setting which) const;
    void set_number(number_setting which, std::uint32_t value);

    // The value in the registry, leaving the copy in memory alone; none when it is missing or of another type.
    [[nodiscard]] std::optional<std::string> stored_text(text_setting which) const;
    [[nodiscard]] std::optional<std::uint32_t> stored_number(number_setting which) const;
    // Writes the value to the registry only; false when its key refuses it.
    [[nodiscard]] bool store(text_setting which, const std::string& value) const;
    [[nodiscard]] bool store(number_setting which, std::uint32_t value) const;

    // Set by the last profile read when its stored key disagrees with its byte or bit count.
    std::atomic<int> profile_key_mismatch{0};

private:
    void load_text(text_setting which, bool clear_when_missing);

    reg::key m_oProfileListKey;
    mutable std::mutex m_oTextLock;
    std::array<owned_buffer, static_cast<std::size_t>(text_setting::count_)> m_aTexts;
    std::array<std::atomic<std::uint32_t>, static_cast<std::size_t>(number_setting::count_)> m_aNumbers{};
};

// Where the activity log goes: the user's "InstallationDirectory", or `fallback` when that value is missing. An
// empty value gives none: it must be reported, never read as the file system root.
[[nodiscard]] std::optional<std::string> installation_directory(const reg::key& user_key, const std::string& fallback);

// Splits a path at '/' or '\' and creates every missing level in turn, mode 0700 (parcel boxes are private); the result
// of each creation is ignored (an existing or refused level is passed over). False only for a path without components:
// empty, longer than 1023 characters, or nothing but separators.
[[nodiscard]] bool create_directory_path(const std::string& path);

// The levels create_directory_path would create, in order (exposed so the splitting can be checked).
[[nodiscard]] std::vector<std::string> directory_levels(const std::string& path);

} // namespace tiv
