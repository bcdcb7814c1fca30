#include "app/settings/raw_settings.h"

#include <sstream>

#include "app/internal/settings/identity_service.h"
#include "app/internal/settings/reg_text.h"
#include "core/text.h"
#include "platform/registry/registry.h"
#include "settings/qvl_settings_data.h"
#include "settings/setting_value.h"

namespace tiv::app {

namespace {
reg::root root_of(hive which) {
    return which == hive::machine ? reg::root::machine : reg::root::user;
}

const char* word_of(hive which) {
    return which == hive::machine ? "machine" : "user";
}

status written(bool done, hive which) {
    return done ? status() : unwritable_settings(root_of(which));
}
// The machine's numbers that the program bounds when it reads them: a value it would not take as written is
// refused here, with the range, rather than stored to be quietly changed.
status check_machine_number(const std::string& name, std::uint32_t number) {
    const char* block_size = place_of(number_setting::io_block_size).name;
    if (iequals(name, block_size) && clamped_io_block_size(number) != number) {
        return {status_code::invalid,
                "\"" + std::string(block_size) + "\" takes " + std::to_string(smallest_io_block_size) + " to " +
                    std::to_string(largest_io_block_size) + " bytes, not " + std::to_string(number) + "."};
    }
    const char* port = place_of(number_setting::listening_port).name;
    if (iequals(name, port) && !is_valid_listening_port(number)) {
        return {status_code::invalid,
                "\"" + std::string(port) + "\" takes a port from 1 to 65535, not " + std::to_string(number) + "."};
    }
    return {};
}
} // namespace

result<std::string> read_raw_setting(hive which, const std::string& name) {
    const reg::key k = open_version_key(root_of(which));
    std::uint32_t type = reg::REG_NONE;
    std::uint32_t size = 0;
    if (!k || reg::query_value(k, name, &type, nullptr, &size) != reg::success) {
        return status(status_code::not_found,
                      "there is no value \"" + name + "\" in the " + word_of(which) + " settings.");
    }
    std::vector<std::uint8_t> data(size);
    if (reg::query_value(k, name, &type, data.data(), &size) != reg::success) {
        return status(status_code::io_failure, "the value \"" + name + "\" could not be read.");
    }
    data.resize(size);
    return format_reg_value(type, data);
}

status write_raw_dword(hive which, const std::string& name, std::uint32_t number) {
    if (which == hive::machine) {
        if (status in_range = check_machine_number(name, number); !in_range) {
            return in_range;
        }
    }
    return written(write_dword_setting(open_version_key(root_of(which)), name, number), which);
}

status write_raw_text(hive which, const std::string& name, const std::string& text) {
    return written(write_text_setting(open_version_key(root_of(which)), name, text), which);
}

status write_raw_binary(hive which, const std::string& name, const std::vector<std::uint8_t>& bytes) {
    return written(write_binary_setting(open_version_key(root_of(which)), name, bytes.data(), bytes.size()), which);
}

result<std::string> export_raw_settings(const std::vector<hive>& hives) {
    std::ostringstream text;
    text << "Windows Registry Editor Version 5.00\n\n";
    for (hive which : hives) {
        reg::key root_key;
        if (reg::open_root(root_of(which), root_key) != reg::success) {
            return status(status_code::io_failure, std::string("cannot open the ") + word_of(which) + " settings at " +
                                                       reg::hive_location(root_of(which)) + ".");
        }
        std::vector<std::string> subkeys;
        if (reg::enum_key_names(root_key, subkeys) != reg::success) {
            return status(status_code::io_failure, std::string("cannot read the ") + word_of(which) + " settings.");
        }
        for (const std::string& name : subkeys) {
            reg::key child;
            if (reg::open_key(root_key, name, child) == reg::success) {
                export_key_tree(child, std::string(root_name(root_of(which))) + '\\' + name, text);
            }
        }
    }
    return text.str();
}

} // namespace tiv::app
