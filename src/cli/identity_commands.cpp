#include <cstdio>
#include <filesystem>

#include "app/endpoint_words.h"
#include "app/friends/profile_service.h"
#include "app/identity.h"
#include "app/keys.h"
#include "app/program.h"
#include "app/reachability.h"
#include "cli/cli.h"
#include "cli/command.h"

namespace tiv::cli {

namespace {
std::string absolute_path(const std::string& path) {
    std::error_code ignored;
    auto absolute = std::filesystem::absolute(path, ignored);
    return ignored ? path : absolute.lexically_normal().string();
}

void print_identity(const app::identity_summary& identity, std::ostream& out) {
    out << "User name:       " << identity.user_name << '\n'
        << "UUID:            " << identity.uuid << '\n'
        << "Listening on:    " << app::endpoint_words(identity.interface_address, identity.port) << '\n'
        << "Parcel box root: " << identity.parcel_root << '\n';
    if (identity.key_bits == 0) {
        out << "Key:             none (see the security warning)\n";
        return;
    }
    out << "Key bits:        " << identity.key_bits << '\n'
        << "Fingerprint:     " << identity.fingerprint << '\n'
        << "Covers:          " << identity.fingerprint_coverage << '\n';
}

// Why a friend's parcels may be refused, in one phrase of the friend's line.
std::string receipt_settings(const app::friend_summary& entry) {
    const std::string size = entry.max_file_size == app::unlimited
                                 ? "files of any size"
                                 : "files up to " + std::to_string(entry.max_file_size) + " bytes";
    const std::string count = entry.max_file_count == app::unlimited
                                  ? "any number of files"
                                  : "at most " + std::to_string(entry.max_file_count) + " files";
    char types[16];
    std::snprintf(types, sizeof types, "0x%03X", entry.key_types);
    return std::string(entry.receipt_enabled ? "accepts" : "refuses") + " parcels (" + size + ", " + count +
           ", key types " + types + ")";
}

// The options of init as the set-up takes them; a usage problem as a whole sentence.
std::optional<std::string> parse_init_options(const parsed_args& args, app::identity_choices& choices,
                                              unsigned& key_bits) {
    if (!args.positional.empty()) {
        return "init takes no arguments besides its options.";
    }
    choices.name = args.value("name");
    choices.address = args.value("address");
    choices.external_name = args.value("external-name");
    if (auto port = args.value("port")) {
        auto number = parse_number(*port);
        if (!number) {
            return "the port must be a number from 1 to 65535.";
        }
        choices.port = number;
    }
    if (auto root = args.value("parcel-root")) {
        choices.parcel_root = root->empty() ? *root : absolute_path(*root);
    }
    if (auto bits = args.value("key-bits")) {
        auto number = parse_number(*bits);
        if (!number || !app::is_offered_key_length(*number)) {
            return "--key-bits takes 1024 to 16384 in steps of 256.";
        }
        key_bits = *number;
    }
    if (app::status checked = app::check_identity_choices(choices); !checked) {
        return checked.text();
    }
    return std::nullopt;
}

int run_init(const parsed_args& args, command_io& io) {
    app::identity_choices choices;
    unsigned key_bits = app::default_key_bits;
    if (auto problem = parse_init_options(args, choices, key_bits)) {
        return fail(io, exit_usage, *problem);
    }
    app::program program(io.terminal);
    std::vector<std::string> warnings;
    const app::status set_up = app::set_up_identity(program, choices, warnings);
    for (const std::string& warning : warnings) {
        io.err << "quorvel-cli: warning: " << warning << '\n';
    }
    if (!set_up) {
        return fail(io, exit_failure, set_up.text());
    }
    if (app::status keys = app::make_first_keys(program, key_bits); !keys) {
        return fail(io, exit_failure, keys.text());
    }
    print_identity(app::describe_identity(program), io.out);
    return exit_success;
}

int run_whoami(const parsed_args& args, command_io& io) {
    if (!args.positional.empty()) {
        return fail(io, exit_usage, "whoami takes no arguments.");
    }
    app::program program(io.terminal);
    if (app::status known = app::require_identity(program); !known) {
        return fail(io, exit_failure, known.text());
    }
    warn_about_machine_settings(io, program);
    if (app::status keys = app::open_keys(program); !keys) {
        return fail(io, exit_failure, keys.text());
    }
    warn_about_keys(io, program);
    print_identity(app::describe_identity(program), io.out);
    io.out << app::reachability_now(program) << '\n';
    return exit_success;
}

int run_friends(const parsed_args& args, command_io& io) {
    if (!args.positional.empty()) {
        return fail(io, exit_usage, "friends takes no arguments.");
    }
    app::program program(io.terminal);
    const auto friends = app::list_friends(program);
    if (!friends) {
        return fail(io, exit_failure, friends.error().text());
    }
    for (const app::friend_summary& entry : *friends) {
        io.out << entry.name << "  " << app::endpoint_words(entry.address, entry.port) << "  " << entry.uuid;
        if (!entry.consistent) {
            io.out << "  (stored key data are inconsistent)";
        } else if (!entry.fingerprint.empty()) {
            io.out << "  " << entry.key_bits << "-bit key " << entry.fingerprint << " (" << entry.fingerprint_coverage
                   << ')';
        } else {
            io.out << "  no key";
        }
        io.out << "  " << receipt_settings(entry) << '\n';
    }
    return exit_success;
}
} // namespace

std::vector<command> identity_commands() {
    return {
        {"init",
         "write first-run defaults and set this user's identity",
         "Usage: quorvel-cli init [--name NAME] [--address A] [--port N] [--external-name HOST]\n"
         "                        [--parcel-root DIR] [--key-bits N]\n"
         "Writes the machine and user first-run defaults where set-up is not complete, applies the given\n"
         "options, marks set-up complete and prints the identity.\n\n"
         "  --name NAME         the user name friends see\n"
         "  --address A         address of the interface to listen on: dotted IPv4 or IPv6 (\"::\" for every\n"
         "                      address of both families, \"0.0.0.0\" for every IPv4 one)\n"
         "  --port N            TCP port to listen on (1-65535, default 20000)\n"
         "  --external-name HOST\n"
         "                      the host name or address friends connect to, exported as ADDR: (default:\n"
         "                      the listening address; for 0.0.0.0 or :: the default route's address, else this\n"
         "                      host's name where it resolves off this computer)\n"
         "  --parcel-root DIR   directory below which every friend's parcel box lies\n"
         "  --key-bits N        length of the RSA key pairs made when this user has none yet\n"
         "                      (1024 to 16384 in steps of 256, default 3072)\n",
         {{"name", true},
          {"address", true},
          {"port", true},
          {"external-name", true},
          {"parcel-root", true},
          {"key-bits", true}},
         run_init},
        {"whoami",
         "print this user's identity",
         "Usage: quorvel-cli whoami\nPrints the user name, UUID, listening address and port, parcel box root, the\n"
         "key length, and the fingerprint friends see after importing this user's profile: SHA-256 over the\n"
         "exchange and signature public key blobs (of the exchange key alone without a signature key).\n",
         {},
         run_whoami},
        {"friends",
         "list the friend profiles",
         "Usage: quorvel-cli friends\nPrints one line per friend profile: name, address:port, UUID, key length, the\n"
         "fingerprint of the keys the friend is authenticated with (what the friend's whoami shows), and whether\n"
         "their parcels are accepted, with the size and count limits and the session key types.\n",
         {},
         run_friends},
    };
}

} // namespace tiv::cli
