#include <arpa/inet.h>

#include "cli/cli.h"
#include "cli/command.h"
#include "cli/profile_options.h"
#include "cli/user_keys.h"
#include "core/text.h"
#include "crypto/crypto_provider.h"
#include "crypto/fingerprint.h"
#include "platform/crypto_backend_public_blob.h"
#include "platform/uuid.h"
#include "settings/friend_profile.h"
#include "settings/profile_file.h"
#include "settings/qvl_settings_data.h"

namespace tiv::cli {

namespace {
std::span<const std::uint8_t> key_blob(const friend_profile& profile) {
    if (profile.key.data == nullptr || profile.key_bytes <= 0 || profile.key_bytes > profile.key.size) {
        return {};
    }
    return {profile.key.data, static_cast<std::size_t>(profile.key_bytes)};
}

int run_export(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "export-profile needs exactly one file name.");
    }
    qvl_settings_data settings;
    crypto_provider* provider = open_user_keys(settings, io);
    if (provider == nullptr) {
        return exit_failure;
    }
    std::string key_text;
    std::string signature_text;
    if (provider->exchange_key_text(0, key_text) == 0 || provider->signature_key_text(signature_text, 0) == 0) {
        return fail(io, exit_failure, "this user's keys cannot be read, so there is no profile to export.");
    }
    const std::string path = profile_file_name(args.positional[0]);
    if (!write_profile_file(path, settings.text(text_setting::user_name), settings.text(text_setting::user_uuid),
                            settings.text(text_setting::external_name), settings.number(number_setting::listening_port),
                            key_text, signature_text)) {
        return fail(io, exit_failure, "could not write the profile file " + path + ".");
    }
    io.out << "Exported to " << path << '\n';
    return exit_success;
}

const char* exchange_kind(bool pinned) {
    return pinned ? "pinned (TLS 1.3 exchange only)" : "legacy (old exchange; the profile file has no SKEY line)";
}

// A profile the program could never use is refused at the door rather than stored.
std::optional<std::string> check_imported(const friend_profile& profile) {
    if (profile.name[0] == '\0') {
        return std::string("the profile file holds no usable name");
    }
    if (!uuid_from_text(profile.uuid)) {
        return std::string("the profile file holds no valid UUID");
    }
    cryptoapi::rsa_key key;
    if (!cryptoapi::import_public_key_blob(key_blob(profile), key)) {
        return std::string("the profile file holds no valid public key");
    }
    cryptoapi::rsa_key signature_key;
    if (profile.pinned() && !cryptoapi::import_public_key_blob(profile.signature_key, signature_key)) {
        return std::string("the profile file holds an invalid signature key (SKEY)");
    }
    return std::nullopt;
}

int run_import(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "import-profile needs exactly one file name.");
    }
    profile_changes changes;
    if (auto problem = parse_profile_changes(args, changes)) {
        return fail(io, exit_usage, *problem + ".");
    }
    profile_file_fields fields;
    if (!read_profile_file(args.positional[0], fields)) {
        return fail(io, exit_failure, "could not read the profile file " + args.positional[0] + ".");
    }
    qvl_settings_data settings;
    settings.load_settings();
    friend_profile profile = profile_from_file(fields, settings.number(number_setting::machine_key_types));
    if (auto problem = check_imported(profile)) {
        return fail(io, exit_failure, *problem + "; nothing was saved.");
    }
    apply_profile_changes(changes, profile);
    friend_profile existing;
    if (read_profile(settings, profile.name, existing) || settings.profile_key_mismatch != 0) {
        io.err << "quorvel-cli: warning: The profile name <" << profile.name
               << "> is already in the database. It has been overwritten.\n";
        if (existing.pinned() && !profile.pinned()) {
            io.err << "quorvel-cli: warning: the stored profile is pinned and stays pinned; a profile file without "
                      "a signature key cannot undo that.\n";
        }
    }
    if (!save_profile(settings, profile)) {
        return fail(io, exit_failure, "Some failure in saving record!");
    }
    io.out << "Imported " << profile.name << '\n'
           << "UUID:        " << profile.uuid << '\n'
           << "Key:         " << profile.key_bits << " bits\n"
           << "Fingerprint: " << key_fingerprint(key_blob(profile)) << '\n'
           << "Exchange:    " << exchange_kind(profile.pinned() || existing.pinned()) << '\n';
    return exit_success;
}

int run_friend_set(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "friend-set needs exactly one profile name.");
    }
    profile_changes changes;
    if (auto problem = parse_profile_changes(args, changes)) {
        return fail(io, exit_usage, *problem + ".");
    }
    qvl_settings_data settings;
    friend_profile profile;
    if (!read_profile(settings, args.positional[0], profile) && settings.profile_key_mismatch == 0) {
        return fail(io, exit_failure, "there is no friend profile named '" + args.positional[0] + "'.");
    }
    apply_profile_changes(changes, profile);
    if (!save_profile(settings, profile)) {
        return fail(io, exit_failure, "Some failure in saving record!");
    }
    return exit_success;
}

int run_friend_delete(const parsed_args& args, command_io& io) {
    if (args.positional.size() != 1) {
        return fail(io, exit_usage, "friend-delete needs exactly one profile name.");
    }
    qvl_settings_data settings;
    if (!delete_profile(settings, args.positional[0])) {
        return fail(io, exit_failure, "Failed to delete profile.");
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
