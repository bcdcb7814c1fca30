#include <cstring>
#include <string>

#include "cli/cli.h"
#include "cli/command.h"
#include "platform/adapters.h"
#include "presence/ping.h"
#include "presence/ping_job.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"

namespace tiv::cli {

namespace {

std::string status_words(PING_STATUS status) {
    return std::string(ping_status_text(status)) + " (status " + std::to_string(static_cast<int>(status)) + ")";
}

// Why no ICMP socket could be had, and what the user can do about it.
std::string socket_hint(int open_error) {
    return std::string("no ICMP socket could be opened (") + std::strerror(open_error) +
           "); grant the raw socket right with 'sudo setcap cap_net_raw+ep quorvel-cli', or allow unprivileged "
           "ICMP sockets for your group with sysctl net.ipv4.ping_group_range.";
}

int run_ping_address(const std::string& address, command_io& io) {
    net_address destination;
    if (!resolve_address(address.c_str(), 0, destination)) {
        return fail(io, exit_failure, "cannot resolve '" + address + "'.");
    }
    ping_socket socket;
    if (!socket.valid()) {
        io.err << "quorvel-cli: " << socket_hint(socket.open_error()) << '\n';
    }
    const ping_result result = ping_once(socket, destination);
    if (result.status != PING_STATUS::replied) {
        return fail(io, exit_failure, "Ping failed! " + status_words(result.status) + ".");
    }
    io.out << "Ping succeeded! Round trip of " << result.round_trip << " milliseconds.\n";
    return exit_success;
}

int run_ping_friends(command_io& io) {
    qvl_settings_data settings;
    if (!settings.profile_list_key()) {
        return fail(io, exit_failure,
                    "cannot open the friend profiles at " + reg::hive_location(reg::root::user) + ".");
    }
    std::vector<std::string> names;
    std::vector<ping_record> records;
    for (const std::string& name : list_profiles(settings)) {
        friend_profile profile;
        (void)read_profile(settings, name, profile); // key consistency does not matter for a ping
        ping_record record;
        record.identifier = ping_identifier_for_row(records.size());
        // An address that does not resolve stays zero; its send then fails and the line says so.
        (void)resolve_address(profile.address, static_cast<std::uint16_t>(profile.port), record.destination);
        records.push_back(record);
        names.push_back(name);
    }
    if (records.empty()) {
        return exit_success;
    }
    const ping_job_options options;
    const auto job = start_ping_job(records, options);
    if (job == nullptr) {
        return fail(io, exit_failure, "the ping job could not be started.");
    }
    if (job->socket_kind() == icmp_socket_kind::none) {
        io.err << "quorvel-cli: " << socket_hint(job->socket_open_error()) << '\n';
    }
    // Each sweep sends 25 ms apart and then waits; four sweeps at most.
    const auto sweep = options.wait + std::chrono::milliseconds(100 + 25 * static_cast<int>(records.size()));
    if (!job->wait_until_done(sweep * (options.repeats + 1) + std::chrono::seconds(5))) {
        return fail(io, exit_failure, "the ping job did not finish in time.");
    }
    const std::vector<ping_record> done = job->records();
    for (std::size_t i = 0; i < done.size(); ++i) {
        const PING_STATUS status = done[i].result.status;
        io.out << names[i] << ' '
               << (status == PING_STATUS::replied || status == PING_STATUS::waiting ? ping_status_text(status)
                                                                                    : status_words(status))
               << '\n';
    }
    return job->socket_kind() == icmp_socket_kind::none ? exit_failure : exit_success;
}

int run_ping(const parsed_args& args, command_io& io) {
    const bool friends = args.has("friends");
    if (friends == (args.positional.size() == 1) || args.positional.size() > 1) {
        return fail(io, exit_usage, "ping takes one ADDRESS or --friends (see 'quorvel-cli ping --help').");
    }
    return friends ? run_ping_friends(io) : run_ping_address(args.positional.front(), io);
}

int run_adapters(const parsed_args& args, command_io& io) {
    if (!args.positional.empty()) {
        return fail(io, exit_usage, "adapters takes no arguments.");
    }
    tree_node root;
    fill_adapter_tree(root, get_adapters_info());
    io.out << tree_text(root.children);
    return exit_success;
}

} // namespace

std::vector<command> presence_commands() {
    return {
        {"ping",
         "send an ICMP echo request to an address or to every friend",
         "Usage: quorvel-cli ping ADDRESS\n"
         "       quorvel-cli ping --friends\n"
         "With ADDRESS (a host name or dotted IPv4 address), sends one echo request and prints the round trip;\n"
         "exits 1 with the failure in words when no accepted reply arrives within 5 seconds.\n"
         "With --friends, pings every friend profile's address in the background (up to four sweeps of 2\n"
         "seconds) and prints one line per friend: its name and OK, TIMEOUT or the error. Exits 1 only when no\n"
         "ICMP socket can be opened.\n\n"
         "A raw ICMP socket needs CAP_NET_RAW; without it the kernel's ICMP datagram socket is used where\n"
         "net.ipv4.ping_group_range allows it.\n",
         {{"friends", false}},
         run_ping},
        {"adapters",
         "describe the network adapters",
         "Usage: quorvel-cli adapters\n"
         "Prints every network adapter with its type, hardware address, system name, IPv4 addresses and masks,\n"
         "DHCP server and lease times (where a DHCP client's lease file can be read) and DNS servers.\n",
         {},
         run_adapters},
    };
}

} // namespace tiv::cli
