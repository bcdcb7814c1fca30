#include "platform/registry/registry.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/paths.h"
#include "platform/registry/registry_hive.h"

namespace tiv::reg {

namespace {

// Splits "A\B\C" into its key names. Every name must be 1 to max_key_name characters without a NUL;
// an empty path means the key itself.
error_code split_levels(std::string_view subkey, std::vector<std::string_view>& levels) {
    levels.clear();
    if (subkey.empty()) {
        return success;
    }
    std::size_t position = 0;
    while (true) {
        const std::size_t separator = subkey.find('\\', position);
        const std::string_view level = subkey.substr(
            position, separator == std::string_view::npos ? std::string_view::npos : separator - position);
        if (level.empty() || level.size() > max_key_name || level.find('\0') != std::string_view::npos) {
            return invalid_parameter;
        }
        levels.push_back(level);
        if (separator == std::string_view::npos) {
            return success;
        }
        position = separator + 1;
    }
}

bool valid_value_name(std::string_view name) {
    return name.size() <= max_value_name && name.find('\0') == std::string_view::npos;
}

} // namespace

key::key(std::shared_ptr<hive> owner, std::int64_t id) : m_pHive(std::move(owner)), m_nId(id) {}

void key::close() {
    m_pHive.reset();
    m_nId = 0;
}

std::string hive_location(root which) {
    return which == root::machine ? paths::machine_hive_path() : paths::user_hive_path();
}

bool is_read_only(const key& k) {
    return k && k.owner()->read_only();
}

error_code open_root(root which, key& out) {
    std::shared_ptr<hive> opened;
    const std::string location = hive_location(which);
    const error_code result = hive::open(location, opened);
    // A user hive made before hives were private is closed to other users now; a machine hive stays as its owner
    // set it, since a shared one is meant to be read by every user.
    if (result == success && which == root::user) {
        for (const std::string& path : {location, location + "-wal", location + "-shm"}) {
            struct stat info {};
            if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
                (info.st_mode & 077) != 0) {
                (void)::chmod(path.c_str(), info.st_mode & 0700);
            }
        }
    }
    out = result == success ? key(std::move(opened), hive::root_id) : key();
    return result;
}

error_code open_key(const key& parent, std::string_view subkey, key& out) {
    if (!parent) {
        return invalid_handle;
    }
    std::vector<std::string_view> levels;
    error_code result = split_levels(subkey, levels);
    std::int64_t id = 0;
    if (result == success) {
        result = parent.owner()->find_key(parent.id(), levels, id);
    }
    // `out` may be `parent` itself, so it is assigned only once the parent is no longer needed.
    out = result == success ? key(parent.shared_owner(), id) : key();
    return result;
}

error_code create_key(const key& parent, std::string_view subkey, key& out, bool* created) {
    if (!parent) {
        return invalid_handle;
    }
    std::vector<std::string_view> levels;
    error_code result = split_levels(subkey, levels);
    std::int64_t id = 0;
    bool made = false;
    if (result == success) {
        result = parent.owner()->create_key(parent.id(), levels, id, made);
    }
    if (created != nullptr) {
        *created = result == success && made;
    }
    out = result == success ? key(parent.shared_owner(), id) : key();
    return result;
}

error_code query_value(const key& k, std::string_view name, std::uint32_t* type, void* data, std::uint32_t* size) {
    if (!k) {
        return invalid_handle;
    }
    if (!valid_value_name(name) || (data != nullptr && size == nullptr)) {
        return invalid_parameter;
    }
    const std::uint32_t capacity = size != nullptr ? *size : 0;
    std::uint32_t stored_type = REG_NONE;
    std::uint32_t stored_size = 0;
    const error_code result = k.owner()->read_value(k.id(), name, stored_type, stored_size, data, capacity);
    if (result != success) {
        return result;
    }
    if (type != nullptr) {
        *type = stored_type;
    }
    if (size != nullptr) {
        *size = stored_size;
    }
    return data != nullptr && stored_size > capacity ? more_data : success;
}

error_code set_value(const key& k, std::string_view name, std::uint32_t type, const void* data, std::uint32_t size) {
    if (!k) {
        return invalid_handle;
    }
    if (!valid_value_name(name) || (data == nullptr && size != 0)) {
        return invalid_parameter;
    }
    return k.owner()->write_value(k.id(), name, type, data, size);
}

error_code delete_value(const key& k, std::string_view name) {
    if (!k) {
        return invalid_handle;
    }
    if (!valid_value_name(name)) {
        return invalid_parameter;
    }
    return k.owner()->delete_value(k.id(), name);
}

error_code enum_key(const key& k, std::uint32_t index, char* name, std::uint32_t* name_size) {
    if (!k) {
        return invalid_handle;
    }
    if (name == nullptr || name_size == nullptr) {
        return invalid_parameter;
    }
    std::string found;
    if (const error_code result = k.owner()->subkey_at(k.id(), index, found); result != success) {
        return result;
    }
    // As RegEnumKeyEx: the capacity counts the NUL, and on more_data *name_size is left as it was.
    if (found.size() >= *name_size) {
        return more_data;
    }
    std::memcpy(name, found.data(), found.size());
    name[found.size()] = '\0';
    *name_size = static_cast<std::uint32_t>(found.size());
    return success;
}

error_code enum_values(const key& k, std::vector<value_entry>& out) {
    if (!k) {
        return invalid_handle;
    }
    return k.owner()->values(k.id(), out);
}

error_code enum_key_names(const key& k, std::vector<std::string>& out) {
    if (!k) {
        return invalid_handle;
    }
    return k.owner()->subkey_names(k.id(), out);
}

error_code delete_key(const key& parent, std::string_view subkey) {
    if (!parent) {
        return invalid_handle;
    }
    std::vector<std::string_view> levels;
    if (const error_code result = split_levels(subkey, levels); result != success) {
        return result;
    }
    // The key itself (an empty path) is not deleted through this call: only named subkeys are.
    if (levels.empty()) {
        return invalid_parameter;
    }
    return parent.owner()->delete_key(parent.id(), levels);
}

} // namespace tiv::reg
