#include "app/internal/published_reachability.h"

#include <cerrno>
#include <csignal>
#include <fstream>
#include <unistd.h>

#include "settings/qvl_settings_data.h"
#include "settings/setting_value.h"

namespace tiv::app {

namespace {
constexpr const char* line_value = "Reachability";
constexpr const char* process_value = "ReachabilityProcess";
constexpr const char* mapped_host_value = "MappedAddress";
constexpr const char* mapped_port_value = "MappedPort";

// Whether `pid` is a process of this program that still runs: a number reused by another program does not count.
bool still_ours(std::uint32_t pid) {
    if (pid == 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) {
        return false;
    }
    std::ifstream name("/proc/" + std::to_string(pid) + "/comm");
    std::string command;
    std::getline(name, command);
    return command.starts_with("quorvel");
}
} // namespace

void publish_reachability(const qvl_settings_data& settings, const std::string& line,
                          const std::optional<router_mapping>& mapping) {
    (void)write_text_setting(settings.user_key(), line_value, line);
    (void)write_text_setting(settings.user_key(), mapped_host_value, mapping ? mapping->external_address : "");
    (void)write_dword_setting(settings.user_key(), mapped_port_value, mapping ? mapping->external_port : 0);
    (void)write_dword_setting(settings.user_key(), process_value, static_cast<std::uint32_t>(::getpid()));
}

void withdraw_reachability(const qvl_settings_data& settings) {
    if (read_dword_setting(settings.user_key(), process_value).value_or(0) == static_cast<std::uint32_t>(::getpid())) {
        (void)write_dword_setting(settings.user_key(), process_value, 0);
    }
}

std::optional<std::string> published_reachability(const qvl_settings_data& settings) {
    if (!still_ours(read_dword_setting(settings.user_key(), process_value).value_or(0))) {
        return std::nullopt;
    }
    return read_text_setting(settings.user_key(), line_value);
}

std::optional<mapped_endpoint> published_mapping(const qvl_settings_data& settings) {
    if (!published_reachability(settings)) {
        return std::nullopt;
    }
    mapped_endpoint mapped{read_text_setting(settings.user_key(), mapped_host_value).value_or(""),
                           read_dword_setting(settings.user_key(), mapped_port_value).value_or(0)};
    return mapped.host.empty() || mapped.port == 0 ? std::nullopt : std::optional(mapped);
}

} // namespace tiv::app
