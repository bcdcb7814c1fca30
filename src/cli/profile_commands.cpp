#include "app/friends/profile_service.h"
#include "app/identity.h"
#include "app/keys.h"
#include "app/program.h"
#include "cli/cli.h"
#include "cli/command.h"
#include "cli/profile_options.h"

namespace tiv::cli {

namespace {
int run_export(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "export-profile needs exactly one file name.");
    }
    app::program program(io.terminal);
    if (app::status known = app::require_identity(program); !known) {
        return fail(io, exit_failure, known.text());
    }
    if (app::status keys = app::open_keys(program); !keys) {
        return fail(io, exit_failure, keys.text());
    }
    const auto exported = app::export_profile(program, args.positional[0], args.has("force"));
    if (!exported) {
        const bool exists = exported.error().code() == app::status_code::conflict;
        return fail(io, exit_failure, exported.error().text() + (exists ? " Give --force to replace it." : ""));
    }
    io.out << "Exported to " << *exported << '\n';
    return exit_success;
}

void print_key_change(const app::key_change& change, std::ostream& out) {
    out << "Old fingerprint: " << change.old_fingerprint << " (" << change.old_coverage << ")\n"
        << "New fingerprint: " << change.new_fingerprint << " (" << change.new_coverage << ")\n";
}

int run_import(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "import-profile needs exactly one file name.");
    }
    app::friend_policy policy;
    if (auto problem = parse_friend_policy(args, policy)) {
        return fail(io, exit_usage, *problem + ".");
    }
    app::program program(io.terminal);
    app::load_settings(program);
    auto loaded = app::load_profile_file(program, args.positional[0]);
    if (!loaded) {
        return fail(io, exit_failure, loaded.error().text());
    }
    app::apply_friend_policy(policy, loaded->record);
    const bool replace_keys = args.has("replace-keys");
    if (const auto change = app::find_key_change(program, loaded->record); change && !replace_keys) {
        io.err << "quorvel-cli: the keys in " << args.positional[0] << " differ from the keys stored for '"
               << change->name << "'; nothing was saved.\n";
        print_key_change(*change, io.err);
        io.err << "Compare the new fingerprint with " << change->name
               << "'s own 'quorvel-cli whoami' (not with the file), then import again with --replace-keys.\n";
        return exit_failure;
    }
    const auto stored = app::store_friend(
        program, loaded->record, replace_keys ? app::key_consent::replace_keys : app::key_consent::keep_stored_keys);
    if (!stored) {
        return fail(io, exit_failure, stored.error().text());
    }
    for (const std::string& warning : loaded->warnings) {
        io.err << "quorvel-cli: warning: " << warning << '\n';
    }
    for (const std::string& warning : stored->warnings) {
        io.err << "quorvel-cli: warning: " << warning << '\n';
    }
    const app::friend_record& imported = stored->record;
    if (stored->keys_replaced) {
        io.out << "Replaced the keys of " << imported.name << '\n';
        print_key_change(*stored->keys_replaced, io.out);
    }
    io.out << "Imported " << imported.name << '\n'
           << "UUID:        " << imported.uuid << '\n'
           << "Key:         " << imported.key_bits << " bits\n"
           << "Fingerprint: " << app::friend_fingerprint(imported) << '\n'
           << "Covers:      " << app::friend_fingerprint_coverage(imported) << '\n';
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
    app::program program(io.terminal);
    if (app::status edited = app::edit_friend(program, args.positional[0], policy); !edited) {
        return fail(io, exit_failure, edited.text());
    }
    return exit_success;
}

int run_friend_delete(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "friend-delete needs exactly one profile name.");
    }
    app::program program(io.terminal);
    // A name that names nobody is worth its own sentence: most often it is mistyped.
    if (const auto known = app::read_friend(program, args.positional[0]);
        !known && known.error().code() == app::status_code::not_found) {
        return fail(io, exit_failure, known.error().text());
    }
    if (app::status deleted = app::delete_friend(program, args.positional[0]); !deleted) {
        return fail(io, exit_failure, deleted.text());
    }
    return exit_success;
}
} // namespace

std::vector<command> profile_commands() {
    return {
        {"export-profile",
         "write this user's profile to a .prf file",
         "Usage: quorvel-cli export-profile FILE [--force]\n"
         "Writes this user's name, UUID, external address, port and public keys to FILE (\".prf\" is appended\n"
         "when the name does not contain it), for a friend to import. An existing FILE is left alone unless\n"
         "--force is given; a directory is refused.\n",
         {{"force", false}},
         run_export},
        {"import-profile", "store a friend's profile from a .prf file",
         "Usage: quorvel-cli import-profile FILE [--accept] [--max-size BYTES|unlimited] [--max-count N|unlimited]\n"
         "                                    [--types MASK] [--replace-keys]\n"
         "Reads a friend's profile file and saves it as a friend profile. A new friend's parcels are refused\n"
         "unless --accept is given, and the limits start at 10240 bytes and 10 files; a friend imported again\n"
         "keeps the settings they had unless options give new ones. Keys that differ from the stored friend's\n"
         "are refused, showing the old and new fingerprints, unless --replace-keys is given.\n\n"
         "  --replace-keys        replace a stored friend's keys (compare the new fingerprint with them "
         "first)\n" PROFILE_OPTIONS_HELP,
         profile_option_defs(false, true), run_import},
        {"friend-set", "change a friend profile",
         "Usage: quorvel-cli friend-set NAME [--accept|--refuse] [--max-size BYTES|unlimited]\n"
         "                               [--max-count N|unlimited] [--types MASK] [--address A] [--port N]\n"
         "                               [--messages on|off]\n\n"
         "  --refuse              refuse parcels from this friend\n"
         "  --messages on|off     show this friend's messages, or refuse them (until set, they are shown\n"
         "                        exactly when the friend's parcels are accepted)\n"
         "  --address A           the friend's address (host name, dotted IPv4 or IPv6, at most 31 characters)\n"
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
