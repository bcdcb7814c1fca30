#include "app/settings/program_options.h"

#include <algorithm>
#include <arpa/inet.h>

#include "app/internal/key_service.h"
#include "app/internal/listen_config.h"
#include "app/internal/program_parts.h"
#include "app/internal/settings/adapter_branches.h"
#include "app/internal/settings/identity_service.h"
#include "app/send_destination.h"
#include "app/settings/external_name.h"
#include "core/address_text.h"
#include "core/outside_text.h"
#include "net/socket/net_socket.h"

namespace tiv::app {

namespace {
constexpr const char* options_caption = "Options";

bool is_ipv6_text(const std::string& address) {
    return address.find(':') != std::string::npos;
}

interface_entry entry_of(const reverse_name& named) {
    return {named.address, named.address + "  [" + named.host_name + "]"};
}

// Whether applying `chosen` moves the listener off the address or port it listens on now.
bool moves_listener(const listen_config& in_force, const program_options& chosen) {
    return listening_host(in_force.interface_address) != listening_host(chosen.interface_text) ||
           in_force.port != chosen.port;
}

// The external name to store. One the user typed stays; one left as it was (or emptied) goes along with a new
// listening address when it followed the old one, so an export never names an address where nothing listens.
std::string external_name_to_store(const program_options& stored, const program_options& chosen) {
    const std::string new_host = listening_host(chosen.interface_text);
    const bool moved = new_host != listening_host(stored.interface_text);
    if (!chosen.external_name.empty() && (chosen.external_name != stored.external_name || !moved)) {
        return chosen.external_name;
    }
    const machine_reach reach = this_machine_reach();
    if (!chosen.external_name.empty() &&
        !follows_listening_address(stored.external_name, listening_host(stored.interface_text), reach)) {
        return chosen.external_name;
    }
    return following_external_name(new_host, reach).value_or(chosen.external_name);
}

// Every value of `chosen` the user agreed to, in the order the options are written; the first refusal stops it.
status write_options(qvl_settings_data& settings, crypto_provider& provider, const program_options& chosen,
                     bool with_address) {
    if (status policy = set_key_type_policy(settings, provider, chosen.key_types); !policy) {
        return policy;
    }
    if (with_address) {
        if (status address =
                save_setting(settings, text_setting::interface_ip_address, listening_host(chosen.interface_text));
            !address) {
            return address;
        }
        if (status port = save_setting(settings, number_setting::listening_port, chosen.port); !port) {
            return port;
        }
    }
    if (status block = save_setting(settings, number_setting::io_block_size, chosen.block_size); !block) {
        return block;
    }
    return save_setting(settings, text_setting::external_name, chosen.external_name);
}
program_options stored_options(const qvl_settings_data& settings) {
    program_options options;
    options.interface_text = listening_host(settings.text(text_setting::interface_ip_address));
    options.port = settings.number(number_setting::listening_port);
    options.block_size = offered_block_size(settings.number(number_setting::io_block_size));
    options.external_name = settings.text(text_setting::external_name);
    options.key_types =
        settings.number(number_setting::machine_key_types) & settings.number(number_setting::provider_key_types);
    return options;
}
std::vector<tree_item> items_of(const std::vector<tree_node>& nodes) {
    std::vector<tree_item> items;
    items.reserve(nodes.size());
    for (const tree_node& node : nodes) {
        items.push_back({node.text, items_of(node.children)});
    }
    return items;
}
} // namespace

std::uint32_t offered_block_size(std::uint32_t stored) {
    const bool offered =
        std::find(offered_block_sizes.begin(), offered_block_sizes.end(), stored) != offered_block_sizes.end();
    return offered ? stored : offered_block_sizes.back();
}

program_options read_program_options(program& p) {
    return stored_options(settings_of(p));
}

std::string provider_name(program& p) {
    return settings_of(p).text(text_setting::current_csp);
}

std::uint32_t offered_key_types(program& p) {
    return settings_of(p).number(number_setting::provider_key_types);
}

std::optional<std::string> machine_settings_notice(program& p) {
    return settings_of(p).machine_settings_notice();
}

status check_program_options(const program_options& options) {
    if (!is_valid_listening_port(options.port)) {
        return {status_code::invalid, "the listen port must be a number from 1 to 65535."};
    }
    if (!is_listening_address(listening_host(options.interface_text))) {
        return {status_code::invalid, "the listening interface '" + escaped_text(options.interface_text) +
                                          "' does not start with an IPv4 or IPv6 address."};
    }
    if (!options.external_name.empty()) {
        if (const std::optional<std::string> fault = address_fault(options.external_name)) {
            return {status_code::invalid, "the external name '" + escaped_text(options.external_name) + "' " + *fault +
                                              "; give one host name or address friends can reach."};
        }
    }
    return {};
}

interface_entries interface_entries_for(const std::vector<reverse_name>& addresses, const std::string& stored) {
    interface_entries list;
    bool has_ipv6 = false;
    bool has_ipv6_loopback = false;
    for (const reverse_name& named : addresses) {
        has_ipv6 = has_ipv6 || is_ipv6_text(named.address);
        if (named.address == ipv6_loopback_address) {
            has_ipv6_loopback = true;
        } else {
            list.entries.push_back(entry_of(named));
        }
    }
    std::stable_partition(list.entries.begin(), list.entries.end(),
                          [](const interface_entry& entry) { return !is_ipv6_text(entry.address); });
    const auto own_addresses = static_cast<std::ptrdiff_t>(list.entries.size());
    if (has_ipv6) {
        list.entries.push_back({every_address, every_address_label});
    }
    if (has_ipv6_loopback) {
        list.entries.push_back({ipv6_loopback_address, ipv6_loopback_interface_label});
    }
    list.entries.push_back({loopback_address, loopback_interface_label});
    const std::string stored_host = listening_host(stored);
    const auto found = std::find_if(list.entries.begin(), list.entries.end(),
                                    [&](const interface_entry& entry) { return entry.address == stored_host; });
    if (found != list.entries.end()) {
        list.selected = static_cast<std::size_t>(found - list.entries.begin());
        return list;
    }
    if (stored.empty()) {
        list.selected = list.entries.size() - 1; // nothing stored yet: the loopback entry
        return list;
    }
    list.entries.insert(list.entries.begin() + own_addresses, interface_entry{stored_host, stored_host});
    list.selected = static_cast<std::size_t>(own_addresses);
    return list;
}

std::vector<reverse_name> named_local_addresses() {
    net_socket probe;
    std::vector<reverse_name> named;
    if (!query_address_list(probe)) {
        return named;
    }
    for (const net_address& address : probe.address_list) {
        const std::string text = host_text(address);
        if (text.empty() || text == loopback_address) {
            continue;
        }
        if (text == ipv6_loopback_address) {
            named.push_back({text, text}); // its entry has a label of its own
            continue;
        }
        // An address whose lookup fails is still offered, under its own text, as one without a name is.
        const result<reverse_name> found = reverse_lookup(text, 0);
        named.push_back(found ? *found : reverse_name{text, text});
    }
    return named;
}

std::vector<tree_item> adapter_branches(const std::vector<adapter_info>& adapters) {
    tree_node root;
    fill_adapter_tree(root, adapters);
    return items_of(root.children);
}

std::vector<tree_item> machine_adapter_branches() {
    return adapter_branches(get_adapters_info());
}

options_applied apply_program_options(program& p, questions& questions, const program_options& chosen) {
    options_applied done;
    qvl_settings_data& settings = settings_of(p);
    program_spine& spine = spine_of(p);
    if (const std::optional<std::string> notice = settings.machine_settings_notice()) {
        done.outcome = status(status_code::io_failure, *notice + " Nothing was changed.");
        return done;
    }
    if (done.outcome = check_program_options(chosen); !done.outcome) {
        return done;
    }
    if (chosen.key_types == 0 &&
        questions.ask(empty_policy_question, options_caption, MB_YESNO | MB_ICONWARNING) != IDYES) {
        return done;
    }
    // With transfers running, a restart ends them: it happens only for a new address or port, and only when the
    // user agrees. A refused one keeps the old address and port stored, since exports advertise what is stored.
    bool restart = spine.incoming().running_count() == 0;
    bool with_address = true;
    if (!restart && moves_listener(spine.incoming().config(), chosen)) {
        restart = questions.ask(restart_question_text, restart_question_caption, MB_YESNO | MB_ICONWARNING) == IDYES;
        with_address = restart;
    }
    program_options written = chosen;
    if (with_address) {
        written.external_name = external_name_to_store(stored_options(settings), chosen);
    }
    if (done.outcome = write_options(settings, provider_of(p), written, with_address); !done.outcome) {
        return done;
    }
    done.applied = true;
    if (restart) {
        // The outcome stays in listen_status(), which the window reports.
        (void)spine.restart_listener(listen_config_of(settings));
        done.restarted = true;
    }
    return done;
}

} // namespace tiv::app
