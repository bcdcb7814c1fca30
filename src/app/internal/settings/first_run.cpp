#include "app/internal/settings/first_run.h"

#include <optional>
#include <string>

#include "app/settings/external_name.h"
#include "net/socket/net_address.h"
#include "platform/paths.h"
#include "settings/identity.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv {

namespace {
struct machine_address_defaults {
    std::string interface_address;
    std::string external_name;
};

// The listener binds to one address, so friends are given that address: a host name may resolve to another one of
// this computer's addresses, where nothing listens.
machine_address_defaults default_machine_addresses() {
    const app::machine_reach reach = app::this_machine_reach();
    machine_address_defaults defaults;
    if (reach.route_address) {
        defaults.interface_address = dotted_ipv4(*reach.route_address);
    } else if (reach.host_address) {
        defaults.interface_address = dotted_ipv4(*reach.host_address);
    } else {
        defaults.interface_address = "127.0.0.1";
    }
    defaults.external_name =
        app::following_external_name(defaults.interface_address, reach).value_or(defaults.interface_address);
    return defaults;
}

// Every user has a parcel box root of their own below their home, whoever set the machine up. A root the user
// already has stays.
void set_parcel_box_root_default(qvl_settings_data& settings) {
    const std::optional<std::string> stored = settings.stored_text(text_setting::parcel_box_directory_root);
    if (stored && !stored->empty()) {
        return;
    }
    const std::string parcel_root = paths::default_parcel_box_root();
    settings.set_text(text_setting::parcel_box_directory_root, parcel_root);
    (void)settings.store(text_setting::parcel_box_directory_root, parcel_root);
}

// Stored where the parcel box root is, so a user sees and changes it there; a choice already made stays.
void set_kept_part_days_default(qvl_settings_data& settings) {
    if (settings.stored_number(number_setting::kept_part_days)) {
        return;
    }
    settings.set_number(number_setting::kept_part_days, default_kept_part_days);
    (void)settings.store(number_setting::kept_part_days, default_kept_part_days);
}

// A new user starts with exactly the key types the machine approves. When the machine settings cannot be read, the
// user's stored value stays: a zero written now would refuse every session key for good.
void set_user_key_types_default(qvl_settings_data& settings) {
    const std::optional<std::uint32_t> machine_types = settings.stored_number(number_setting::machine_key_types);
    if (!machine_types) {
        settings.set_number(number_setting::user_key_types,
                            settings.stored_number(number_setting::user_key_types).value_or(0));
        return;
    }
    settings.set_number(number_setting::machine_key_types, *machine_types);
    settings.set_number(number_setting::user_key_types, *machine_types);
    (void)settings.store(number_setting::user_key_types, *machine_types);
}
} // namespace

void set_machine_defaults(qvl_settings_data& settings) {
    (void)settings.store(text_setting::current_csp, names::default_provider_name);
    settings.set_number(number_setting::provider_key_types, default_key_type_mask);
    (void)settings.store(number_setting::provider_key_types, default_key_type_mask);
    settings.set_number(number_setting::machine_key_types, default_key_type_mask);
    (void)settings.store(number_setting::machine_key_types, default_key_type_mask);

    const machine_address_defaults addresses = default_machine_addresses();
    settings.set_text(text_setting::external_name, addresses.external_name);
    (void)settings.store(text_setting::external_name, addresses.external_name);

    write_dword_setting(settings.machine_key(), names::legacy_exchange, 1);
    // A choice the administrator made before set-up stays.
    if (!read_dword_setting(settings.machine_key(), names::lan_announce)) {
        write_dword_setting(settings.machine_key(), names::lan_announce, 1);
    }

    settings.set_number(number_setting::listening_port, default_listening_port);
    (void)settings.store(number_setting::listening_port, default_listening_port);

    settings.set_text(text_setting::interface_ip_address, addresses.interface_address);
    (void)settings.store(text_setting::interface_ip_address, addresses.interface_address);
}

void set_user_defaults(qvl_settings_data& settings) {
    set_user_key_types_default(settings);
    set_parcel_box_root_default(settings);
    set_kept_part_days_default(settings);

    if (!settings.stored_text(text_setting::user_uuid)) {
        (void)settings.store(text_setting::user_uuid, create_uuid_text());
    }

    const std::string name = login_name();
    settings.set_text(text_setting::user_name, name);
    (void)settings.store(text_setting::user_name, name);
}

} // namespace tiv
