#include "app/first_run.h"

#include <arpa/inet.h>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "net/net_address.h"
#include "platform/paths.h"
#include "settings/identity.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv {

namespace {
std::string local_host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}
} // namespace

void set_machine_defaults(qvl_settings_data& settings) {
    const std::string parcel_root = paths::default_parcel_box_root();
    settings.set_text(text_setting::parcel_box_directory_root, parcel_root);
    write_text_setting(settings.user_key(), names::parcel_box_directory_root, parcel_root);

    write_text_setting(settings.machine_key(), names::current_csp, names::default_provider_name);
    settings.set_number(number_setting::provider_key_types, default_key_type_mask);
    write_dword_setting(settings.machine_key(), names::current_csp_sk_caps, default_key_type_mask);
    settings.set_number(number_setting::machine_key_types, default_key_type_mask);
    write_dword_setting(settings.machine_key(), names::enabled_sk_caps, default_key_type_mask);

    const std::string host = local_host_name();
    net_address local{};
    const bool resolved = resolve_address(host.c_str(), default_listening_port, local);
    // An unresolved host keeps its own name: friends may still reach it through their own resolver.
    const std::string external = resolved ? std::string(local.host_name) : host;
    settings.set_text(text_setting::external_name, external);
    write_text_setting(settings.machine_key(), names::external_name, external);

    write_dword_setting(settings.machine_key(), names::legacy_exchange, 1);

    settings.set_number(number_setting::listening_port, default_listening_port);
    write_dword_setting(settings.machine_key(), names::interface_ip_port, default_listening_port);

    char dotted[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &local.sockaddr.sin_addr, dotted, sizeof dotted) == nullptr || dotted[0] == '\0') {
        std::snprintf(dotted, sizeof dotted, "127.0.0.1");
    }
    settings.set_text(text_setting::interface_ip_address, dotted);
    write_text_setting(settings.machine_key(), names::interface_ip_address, dotted);
}

void set_user_defaults(qvl_settings_data& settings) {
    const std::uint32_t machine_types = read_dword_setting(settings.machine_key(), names::enabled_sk_caps).value_or(0);
    settings.set_number(number_setting::machine_key_types, machine_types);
    settings.set_number(number_setting::user_key_types, machine_types);
    write_dword_setting(settings.user_key(), names::enabled_sk_caps, machine_types);

    if (!read_text_setting(settings.user_key(), names::user_uuid)) {
        write_text_setting(settings.user_key(), names::user_uuid, create_uuid_text());
    }

    const std::string name = login_name();
    settings.set_text(text_setting::user_name, name);
    write_text_setting(settings.user_key(), names::user_name, name);
}

} // namespace tiv
