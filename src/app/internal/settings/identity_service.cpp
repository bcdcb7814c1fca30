#include "app/internal/settings/identity_service.h"

#include <arpa/inet.h>

#include "app/internal/key_service.h"
#include "app/internal/settings/first_run.h"
#include "app/internal/settings/receiver_readiness.h"
#include "app/settings/external_name.h"
#include "core/address_text.h"
#include "core/outside_text.h"
#include "crypto/fingerprint.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::app {

bool is_listening_address(const std::string& text) {
    in_addr parsed{};
    return ::inet_pton(AF_INET, text.c_str(), &parsed) == 1 ||
           (text.find(':') != std::string::npos && !address_fault(text));
}

bool setup_complete(const reg::key& k) {
    return read_dword_setting(k, names::setup_complete).value_or(0) != 0;
}

status mark_setup_complete(const reg::key& k) {
    if (!write_dword_setting(k, names::setup_complete, 1)) {
        return {status_code::io_failure, "set-up could not be marked complete."};
    }
    return {};
}

// The first-run notice is claimed when "FirstRun V1.2" of the user's program key is missing, not a DWORD or 0: it
// is written as 1 then.
bool claim_first_run_notice() {
    reg::key root;
    reg::key program;
    if (reg::open_root(reg::root::user, root) != reg::success ||
        reg::create_key(root, std::string(names::software) + "\\" + names::program_key, program) != reg::success) {
        return false;
    }
    if (read_dword_setting(program, names::first_run).value_or(0) != 0) {
        return false;
    }
    (void)write_dword_setting(program, names::first_run, 1);
    return true;
}

void load_settings_with_defaults(qvl_settings_data& settings) {
    if (!setup_complete(settings.machine_key())) {
        set_machine_defaults(settings);
    }
    if (!setup_complete(settings.user_key())) {
        set_user_defaults(settings);
    }
    settings.load_settings();
}

status require_identity(qvl_settings_data& settings) {
    settings.load_settings();
    if (settings.text(text_setting::user_uuid).empty()) {
        return {status_code::no_identity, "this user has no identity yet; run 'quorvel-cli init' first."};
    }
    return {};
}

status open_keys(const qvl_settings_data& settings, crypto_provider& provider) {
    return open_user_keys(settings, provider);
}

status open_identity(qvl_settings_data& settings, crypto_provider& provider) {
    load_settings_with_defaults(settings);
    return open_keys(settings, provider);
}

status unwritable_settings(reg::root hive) {
    return {status_code::io_failure, std::string("the ") + (hive == reg::root::machine ? "machine" : "user") +
                                         " settings at " + reg::hive_location(hive) + " could not be written."};
}

status save_setting(qvl_settings_data& settings, text_setting which, const std::string& value) {
    if (!settings.store(which, value)) {
        return unwritable_settings(place_of(which).hive);
    }
    settings.set_text(which, value);
    return {};
}

status save_setting(qvl_settings_data& settings, number_setting which, std::uint32_t value) {
    if (!settings.store(which, value)) {
        return unwritable_settings(place_of(which).hive);
    }
    settings.set_number(which, value);
    return {};
}

std::string listening_host(const std::string& interface_text) {
    return interface_text.substr(0, interface_text.find_first_of(" \t"));
}

status check_identity_choices(const identity_choices& choices) {
    if (choices.name && choices.name->empty()) {
        return {status_code::invalid, "the user name must not be empty."};
    }
    if (choices.address && !is_listening_address(*choices.address)) {
        return {status_code::invalid, "'" + *choices.address + "' is not a dotted IPv4 address nor an IPv6 address."};
    }
    if (choices.port && (*choices.port == 0 || *choices.port > 65535)) {
        return {status_code::invalid, "the port must be a number from 1 to 65535."};
    }
    if (choices.parcel_root && choices.parcel_root->empty()) {
        return {status_code::invalid, "the parcel box root must not be empty."};
    }
    if (choices.external_name) {
        if (const std::optional<std::string> fault = address_fault(*choices.external_name)) {
            return {status_code::invalid, "the external name '" + escaped_text(*choices.external_name) + "' " + *fault +
                                              "; give one host name or address friends can reach."};
        }
    }
    return {};
}

status set_up_identity(qvl_settings_data& settings, const identity_choices& choices,
                       std::vector<std::string>& warnings) {
    if (status checked = check_identity_choices(choices); !checked) {
        return checked;
    }
    if (!settings.user_key()) {
        return {status_code::io_failure,
                "cannot open the user settings at " + reg::hive_location(reg::root::user) + "."};
    }
    if (const std::optional<std::string> notice = settings.machine_settings_notice()) {
        warnings.push_back(*notice);
    }
    load_settings_with_defaults(settings);
    const std::string old_host = listening_host(settings.text(text_setting::interface_ip_address));
    const std::string old_external_name = settings.text(text_setting::external_name);

    // The first setting refused names its file; the ones before it are kept.
    status written;
    const auto save = [&settings, &written](auto which, const auto& value) {
        if (written) {
            written = save_setting(settings, which, value);
        }
    };
    if (choices.name) {
        save(text_setting::user_name, *choices.name);
    }
    if (choices.parcel_root) {
        save(text_setting::parcel_box_directory_root, *choices.parcel_root);
    }
    if (choices.address) {
        save(text_setting::interface_ip_address, *choices.address);
    }
    if (choices.port) {
        save(number_setting::listening_port, *choices.port);
    }
    if (choices.external_name) {
        save(text_setting::external_name, *choices.external_name);
    } else if (choices.address) {
        const machine_reach reach = this_machine_reach();
        if (follows_listening_address(old_external_name, old_host, reach)) {
            if (const std::optional<std::string> followed = following_external_name(*choices.address, reach)) {
                save(text_setting::external_name, *followed);
            } else {
                warnings.push_back("no address off this computer was found for friends to reach; the external name "
                                   "stays '" +
                                   escaped_text(old_external_name) + "': give one with --external-name.");
            }
        }
    }
    if (!written) {
        return written;
    }
    // A machine hive that cannot be written was reported above; its set-up stays as it was.
    (void)mark_setup_complete(settings.machine_key());
    (void)mark_setup_complete(settings.user_key());

    const std::string root = settings.text(text_setting::parcel_box_directory_root);
    if (status ready = prepare_parcel_root(root); !ready) {
        warnings.push_back(ready.text());
    }
    return {};
}

identity_summary describe_identity(const qvl_settings_data& settings, crypto_provider& provider) {
    identity_summary summary;
    summary.user_name = settings.text(text_setting::user_name);
    summary.uuid = settings.text(text_setting::user_uuid);
    summary.interface_address = listening_host(settings.text(text_setting::interface_ip_address));
    summary.port = settings.number(number_setting::listening_port);
    summary.parcel_root = settings.text(text_setting::parcel_box_directory_root);
    const std::vector<std::uint8_t> blob = provider.exchange_key_blob();
    const rsa_key_ptr key = provider.exchange_key();
    if (key == nullptr || blob.empty()) {
        return summary;
    }
    summary.key_bits = key->bits();
    const std::vector<std::uint8_t> signature_blob = provider.signature_key_blob();
    summary.fingerprint = authentication_fingerprint(blob, signature_blob);
    summary.fingerprint_coverage = fingerprint_coverage(!signature_blob.empty());
    return summary;
}

} // namespace tiv::app
