#include "app/identity_service.h"
#include "app/profile_service.h"
#include "cli/cli.h"
#include "cli/command.h"
#include "cli/profile_options.h"

namespace tiv::cli {

namespace {
int run_export(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "export-profile needs exactly one file name.");
    }
    qvl_settings_data settings;
    if (app::status known = app::require_identity(settings); !known) {
        return fail(io, exit_failure, known.text());
    }
    crypto_provider& provider = process_crypto_provider();
    // Keys that cannot be read are reported below, as the reason there is nothing to export.
    (void)app::open_keys(settings, provider);
    const auto exported = app::export_profile(settings, provider, args.positional[0]);
    if (!exported) {
        return fail(io, exit_failure, exported.error().text());
    }
    io.out << "Exported to " << *exported << '\n';
    return exit_success;
}

const char* exchange_kind(bool pinned) {
    return pinned ? "pinned (TLS 1.3 exchange only)" : "legacy (old exchange; the profile file has no SKEY line)";
}

int run_import(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "import-profile needs exactly one file name.");
    }
    app::friend_policy policy;
    if (auto problem = parse_friend_policy(args, policy)) {
        return fail(io, exit_usage, *problem + ".");
    }
    qvl_settings_data settings;
    settings.load_settings();
    friend_profile imported;
    const auto stored = app::import_profile(settings, args.positional[0], policy, &imported);
    if (!stored) {
        return fail(io, exit_failure, stored.error().text());
    }
    for (const std::string& warning : stored->warnings) {
        io.err << "quorvel-cli: warning: " << warning << '\n';
    }
    io.out << "Imported " << imported.name << '\n'
           << "UUID:        " << imported.uuid << '\n'
           << "Key:         " << imported.key_bits << " bits\n"
           << "Fingerprint: " << app::friend_fingerprint(imported) << '\n'
           << "Exchange:    " << exchange_kind(stored->pinned) << '\n';
    return exit_success;
}

int run_friend_set(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "friend-set needs exactly one profile name.");
    }
    app::friend_policy policy;
    if (auto problem = parse_friend_policy(args, policy)) {
        return fail(io, exit_usage, *problem + ".");
    }
    qvl_settings_data settings;
    if (app::status edited = app::edit_friend(settings, args.positional[0], policy); !edited) {
        return fail(io, exit_failure, edited.text());
    }
    return exit_success;
}

int run_friend_delete(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "friend-delete needs exactly one profile name.");
    }
    qvl_settings_data settings;
    // A name that names nobody is worth its own sentence: most often it is mistyped.
    if (const auto known = app::read_friend(settings, args.positional[0]);
        !known && known.error().code() == app::status_code::not_found) {
        return fail(io, exit_failure, known.error().text());
    }
    if (app::status deleted = app::delete_friend(settings, args.positional[0]); !deleted) {
        return fail(io, exit_failure, deleted.text());
    }
    return exit_success;
}
} // namespace

std::vector<command> profile_commands() {
    return {
        {"export-profile",
         "write this user's profile to a .prf file",
         "Usage: quorvel-cli export-profile FILE\n"
         "Writes this user's name, UUID, external address, port and public key to FILE (\".prf\" is appended\n"
         "when the name does not contain it), for a friend to import.\n",
         {},
         run_export},
        {"import-profile", "store a friend's profile from a .prf file",
         "Usage: quorvel-cli import-profile FILE [--accept] [--max-size BYTES|unlimited] [--max-count N|unlimited]\n"
         "                                    [--types MASK]\n"
         "Reads a friend's profile file and saves it as a friend profile. Parcels from the friend are refused\n"
         "unless --accept is given; the limits start at 10240 bytes and 10 files.\n\n" PROFILE_OPTIONS_HELP,
         profile_option_defs(), run_import},
        {"friend-set", "change a friend profile",
         "Usage: quorvel-cli friend-set NAME [--accept|--refuse] [--max-size BYTES|unlimited]\n"
         "                               [--max-count N|unlimited] [--types MASK] [--address A] [--port N]\n\n"
         "  --refuse              refuse parcels from this friend\n"
         "  --address A           the friend's address (dotted IPv4 or host name, at most 31 characters)\n"
         "  --port N              the friend's listening port (1-65535)\n" PROFILE_OPTIONS_HELP,
         profile_option_defs(true), run_friend_set},
        {"friend-delete",
         "delete a friend profile",
         "Usage: quorvel-cli friend-delete NAME\nDeletes the friend profile NAME.\n",
         {},
         run_friend_delete},
    };
}

} // namespace tiv::cli
