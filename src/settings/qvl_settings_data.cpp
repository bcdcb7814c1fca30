#include "settings/qvl_settings_data.h"

#include <algorithm>
#include <sys/stat.h>

#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv {

namespace {
constexpr std::size_t index(text_setting which) {
    return static_cast<std::size_t>(which);
}
constexpr std::size_t index(number_setting which) {
    return static_cast<std::size_t>(which);
}
constexpr std::size_t max_path_length = 1023;

bool is_separator(char c) {
    return c == '/' || c == '\\';
}
} // namespace

setting_place place_of(text_setting which) {
    switch (which) {
    case text_setting::current_csp:
        return {reg::root::machine, names::current_csp};
    case text_setting::external_name:
        return {reg::root::machine, names::external_name};
    case text_setting::interface_ip_address:
        return {reg::root::machine, names::interface_ip_address};
    case text_setting::user_uuid:
        return {reg::root::user, names::user_uuid};
    case text_setting::user_name:
        return {reg::root::user, names::user_name};
    case text_setting::parcel_box_directory_root:
    case text_setting::count_:
        break;
    }
    return {reg::root::user, names::parcel_box_directory_root};
}

setting_place place_of(number_setting which) {
    switch (which) {
    case number_setting::machine_key_types:
        return {reg::root::machine, names::enabled_sk_caps};
    case number_setting::user_key_types:
        return {reg::root::user, names::enabled_sk_caps};
    case number_setting::provider_key_types:
        return {reg::root::machine, names::current_csp_sk_caps};
    case number_setting::listening_port:
        return {reg::root::machine, names::interface_ip_port};
    case number_setting::kept_part_days:
        return {reg::root::user, names::kept_part_days};
    case number_setting::io_block_size:
    case number_setting::count_:
        break;
    }
    return {reg::root::machine, names::io_block_size};
}

reg::key open_version_key(reg::root which, reg::error_code& result) {
    reg::key root_key;
    if (result = reg::open_root(which, root_key); result != reg::success) {
        return {};
    }
    const std::string path = std::string(names::software) + "\\" + names::program_key + "\\" + names::version_key;
    reg::key version;
    // Opening first leaves an existing key alone, which a read-only hive requires: creating takes a write lock.
    result = reg::open_key(root_key, path, version);
    if (result == reg::file_not_found && !reg::is_read_only(root_key)) {
        result = reg::create_key(root_key, path, version);
    }
    return result == reg::success ? std::move(version) : reg::key();
}

reg::key open_version_key(reg::root which) {
    reg::error_code ignored = reg::success;
    return open_version_key(which, ignored);
}

std::optional<std::string> registry_manager::machine_settings_notice() const {
    const std::string path = reg::hive_location(reg::root::machine);
    if (m_oMachineKey) {
        if (reg::is_read_only(m_oMachineKey)) {
            return "the machine settings at " + path +
                   " are read-only for this user: their values are used, and machine settings cannot be changed here.";
        }
        return std::nullopt;
    }
    std::string reason;
    switch (m_nMachineOpenResult) {
    case reg::access_denied:
        reason = "this user may not read it";
        break;
    case reg::file_not_found:
        reason = "it holds no Quorvel settings";
        break;
    case reg::registry_corrupt:
    case reg::cannot_open_hive:
        reason = "it is damaged or not a settings file";
        break;
    default:
        reason = "it could not be read";
        break;
    }
    return "the machine settings at " + path + " cannot be used (" + reason +
           "): every machine setting reads as missing, and none is written.";
}

std::uint32_t clamped_io_block_size(std::uint32_t stored) {
    return std::clamp(stored, smallest_io_block_size, largest_io_block_size);
}

bool is_valid_listening_port(std::uint32_t port) {
    return port >= 1 && port <= 65535;
}

registry_manager::registry_manager() = default;
registry_manager::~registry_manager() = default;

qvl_settings_data::qvl_settings_data() {
    m_oMachineKey = open_version_key(reg::root::machine, m_nMachineOpenResult);
    m_oUserKey = open_version_key(reg::root::user);
    if (m_oUserKey) {
        reg::key profiles;
        if (reg::create_key(m_oUserKey, names::profile_list, profiles) == reg::success) {
            m_oProfileListKey = std::move(profiles);
        }
    }
}

qvl_settings_data::~qvl_settings_data() = default;

std::string qvl_settings_data::text(text_setting which) const {
    std::lock_guard guard(m_oTextLock);
    return m_aTexts[index(which)].text();
}

bool qvl_settings_data::has_text(text_setting which) const {
    std::lock_guard guard(m_oTextLock);
    return !m_aTexts[index(which)].empty();
}

void qvl_settings_data::set_text(text_setting which, const std::string& value) {
    std::lock_guard guard(m_oTextLock);
    // A fresh buffer rather than a grow-only reuse: a shorter text must not leave the longer one's tail.
    m_aTexts[index(which)] = owned_buffer(value.c_str());
}

std::uint32_t qvl_settings_data::number(number_setting which) const {
    return m_aNumbers[index(which)].load();
}

void qvl_settings_data::set_number(number_setting which, std::uint32_t value) {
    m_aNumbers[index(which)].store(value);
}

std::optional<std::string> qvl_settings_data::stored_text(text_setting which) const {
    const setting_place place = place_of(which);
    return read_text_setting(key_of(place.hive), place.name);
}

std::optional<std::uint32_t> qvl_settings_data::stored_number(number_setting which) const {
    const setting_place place = place_of(which);
    return read_dword_setting(key_of(place.hive), place.name);
}

bool qvl_settings_data::store(text_setting which, const std::string& value) const {
    const setting_place place = place_of(which);
    return write_text_setting(key_of(place.hive), place.name, value);
}

bool qvl_settings_data::store(number_setting which, std::uint32_t value) const {
    const setting_place place = place_of(which);
    return write_dword_setting(key_of(place.hive), place.name, value);
}

void qvl_settings_data::load_text(text_setting which, bool clear_when_missing) {
    if (auto value = stored_text(which)) {
        set_text(which, *value);
    } else if (clear_when_missing) {
        set_text(which, "");
    }
}

void qvl_settings_data::load_settings() {
    load_text(text_setting::parcel_box_directory_root, false);
    set_number(number_setting::kept_part_days,
               stored_number(number_setting::kept_part_days).value_or(default_kept_part_days));
    load_text(text_setting::interface_ip_address, false);
    const std::uint32_t port = stored_number(number_setting::listening_port).value_or(0);
    set_number(number_setting::listening_port, is_valid_listening_port(port) ? port : 0);
    load_text(text_setting::user_name, true);
    load_text(text_setting::user_uuid, true);
    set_number(number_setting::provider_key_types, stored_number(number_setting::provider_key_types).value_or(0));
    set_number(number_setting::machine_key_types, stored_number(number_setting::machine_key_types).value_or(0));
    set_number(number_setting::user_key_types, stored_number(number_setting::user_key_types).value_or(0));
    load_text(text_setting::external_name, false);
    load_text(text_setting::current_csp, true);
    // Missing stays 0: the transfers then take their own smallest chunk.
    const auto block_size = stored_number(number_setting::io_block_size);
    set_number(number_setting::io_block_size, block_size ? clamped_io_block_size(*block_size) : 0);
}

std::optional<std::string> installation_directory(const reg::key& user_key, const std::string& fallback) {
    const std::optional<std::string> stored = read_text_setting(user_key, names::installation_directory);
    if (!stored) {
        return fallback;
    }
    if (stored->empty()) {
        return std::nullopt;
    }
    return stored;
}

std::vector<std::string> directory_levels(const std::string& path) {
    std::vector<std::string> levels;
    if (path.empty() || path.size() > max_path_length) {
        return levels;
    }
    const bool absolute = is_separator(path.front());
    std::size_t start = 0;
    while (start < path.size() && is_separator(path[start])) {
        ++start;
    }
    if (start == path.size()) {
        return levels;
    }
    // A component ends at a separator that has a character before it (within the component) and one after
    // it, so a doubled separator begins the next component and a trailing one stays with the last.
    std::vector<std::string> components;
    std::size_t component_start = start;
    for (std::size_t i = start + 1; i + 1 < path.size(); ++i) {
        if (is_separator(path[i]) && i > component_start) {
            components.push_back(path.substr(component_start, i - component_start));
            component_start = i + 1;
        }
    }
    components.push_back(path.substr(component_start));
    std::string built = absolute ? "/" : "";
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0) {
            built += '/';
        }
        for (char c : components[i]) {
            built += is_separator(c) ? '/' : c;
        }
        levels.push_back(built);
    }
    return levels;
}

bool create_directory_path(const std::string& path) {
    const std::vector<std::string> levels = directory_levels(path);
    if (levels.empty()) {
        return false;
    }
    for (const std::string& level : levels) {
        (void)::mkdir(level.c_str(), 0700);
    }
    return true;
}

} // namespace tiv
