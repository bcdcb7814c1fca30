#include <cstring>
#include <string>

#include "app/presence_service.h"
#include "app/program.h"
#include "cli/cli.h"
#include "cli/command.h"

namespace tiv::cli {

namespace {

// Why no ICMP socket could be had, and what the user can do about it.
std::string socket_hint(int open_error) {
    return std::string("no ICMP socket could be opened (") + std::strerror(open_error) +
           "); grant the raw socket right with 'sudo setcap cap_net_raw+ep quorvel-cli', or allow unprivileged "
           "ICMP sockets for your group with sysctl net.ipv4.ping_group_range.";
}

int run_ping_address(const std::string& address, command_io& io) {
    const app::ping_reply reply = app::ping_address(address);
    if (reply.no_socket) {
        io.err << "quorvel-cli: " << socket_hint(reply.socket_error) << '\n';
    }
    if (!reply.outcome) {
        return fail(io, exit_failure, reply.outcome.text());
    }
    io.out << "Ping succeeded! Round trip of " << reply.round_trip << " milliseconds.\n";
    return exit_success;
}

int run_ping_friends(command_io& io) {
    app::program program(io.terminal);
    const auto pinged = app::ping_friends(program);
    if (!pinged) {
        return fail(io, exit_failure, pinged.error().text());
    }
    if (pinged->no_socket) {
        io.err << "quorvel-cli: " << socket_hint(pinged->socket_error) << '\n';
    }
    for (const app::friend_ping& entry : pinged->friends) {
        io.out << entry.name << ' ' << entry.outcome << '\n';
    }
    return pinged->no_socket ? exit_failure : exit_success;
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
    io.out << app::adapters_text();
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
