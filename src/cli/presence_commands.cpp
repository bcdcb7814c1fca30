#include <cstring>
#include <string>

#include "app/friend_conversation.h"
#include "app/presence_service.h"
#include "app/program.h"
#include "app/send_service.h"
#include "cli/cli.h"
#include "cli/command.h"
#include "core/outside_text.h"

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

// A friend's program asked over the pinned channel: whether it runs, or to show a message.
template <typename Ask> int ask_friend(const std::string& name, command_io& io, Ask ask) {
    app::program program(io.terminal);
    if (app::status opened = app::open_sender_identity(program); !opened) {
        return fail(io, exit_failure, opened.text());
    }
    const app::friend_reply reply = ask(program);
    io.out << escaped_text(name) << ": " << escaped_text(reply.words) << '\n';
    return reply.answer == app::friend_answer::answered ? exit_success : exit_failure;
}

int run_ping(const parsed_args& args, command_io& io) {
    const bool friends = args.has("friends");
    const bool login = args.has("login");
    if ((friends && login) || friends == (args.positional.size() == 1) || args.positional.size() > 1) {
        return fail(io, exit_usage,
                    "ping takes one ADDRESS, --login FRIEND or --friends (see 'quorvel-cli ping --help').");
    }
    if (login) {
        const std::string& name = args.positional.front();
        return ask_friend(name, io, [&](app::program& program) { return app::check_login(program, name); });
    }
    return friends ? run_ping_friends(io) : run_ping_address(args.positional.front(), io);
}

int run_message(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 2 || args.positional[1].empty()) {
        return fail(io, exit_usage, "message takes a FRIEND and a TEXT (see 'quorvel-cli message --help').");
    }
    const std::string& name = args.positional[0];
    return ask_friend(name, io,
                      [&](app::program& program) { return app::send_message(program, name, args.positional[1]); });
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
         "       quorvel-cli ping --login FRIEND\n"
         "With ADDRESS (a host name or dotted IPv4 address), sends one echo request and prints the round trip;\n"
         "exits 1 with the failure in words when no accepted reply arrives within 5 seconds.\n"
         "With --friends, pings every friend profile's address in the background (up to four sweeps of 2\n"
         "seconds) and prints one line per friend: its name and OK, TIMEOUT or the error. Exits 1 only when no\n"
         "ICMP socket can be opened.\n"
         "With --login, asks the friend's program itself over the pinned channel whether it runs, as Friend\n"
         "Status's Check Login does, and prints 'FRIEND: online (program answered in 84 ms)', 'not running\n"
         "(connection refused)', 'no answer', 'keys differ: ...', 'older program' (a program that predates the\n"
         "check, which took us all the same) or why it could not be asked; a friend without a pinned key is not\n"
         "asked. Exits 0 only for online. No ICMP is sent.\n\n"
         "A raw ICMP socket needs CAP_NET_RAW; without it the kernel's ICMP datagram socket is used where\n"
         "net.ipv4.ping_group_range allows it.\n",
         {{"friends", false}, {"login", false}},
         run_ping},
        {"message",
         "send a short message to a friend's program",
         "Usage: quorvel-cli message FRIEND TEXT\n"
         "Sends TEXT (UTF-8, at most 4096 bytes) to the friend's program over the pinned channel, where it is\n"
         "shown under your name and the time (the desktop program's message console, or 'quorvel-cli listen')\n"
         "and kept nowhere else. Prints 'FRIEND: delivered', 'FRIEND: refused: messages are off for you' (the\n"
         "friend does not take your messages), 'FRIEND: not running', or why it was not sent. Exits 0 only when\n"
         "it was delivered.\n",
         {},
         run_message},
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
