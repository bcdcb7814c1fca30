#include <arpa/inet.h>
#include <filesystem>
#include <sys/stat.h>

#include "app/first_run.h"
#include "app/provider_report.h"
#include "cli/cli.h"
#include "cli/command.h"
#include "crypto/crypto_provider.h"
#include "crypto/fingerprint.h"
#include "crypto/key_management.h"
#include "settings/friend_profile.h"
#include "settings/identity.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::cli {

namespace {
bool setup_complete(const reg::key& k) {
    return read_dword_setting(k, names::setup_complete).value_or(0) != 0;
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string absolute_path(const std::string& path) {
    std::error_code ignored;
    auto absolute = std::filesystem::absolute(path, ignored);
    return ignored ? path : absolute.lexically_normal().string();
}

void print_identity(const qvl_settings_data& settings, crypto_provider& provider, std::ostream& out) {
    out << "User name:       " << settings.text(text_setting::user_name) << '\n'
        << "UUID:            " << settings.text(text_setting::user_uuid) << '\n'
        << "Listening on:    " << settings.text(text_setting::interface_ip_address) << ':'
        << settings.number(number_setting::listening_port) << '\n'
        << "Parcel box root: " << settings.text(text_setting::parcel_box_directory_root) << '\n';
    const std::vector<std::uint8_t> blob = provider.exchange_key_blob();
    const rsa_key_ptr key = provider.exchange_key();
    if (key == nullptr || blob.empty()) {
        out << "Key:             none (see the security warning)\n";
        return;
    }
    out << "Key bits:        " << key->bits() << '\n' << "Fingerprint:     " << key_fingerprint(blob) << '\n';
    const std::vector<std::uint8_t> signature = provider.signature_key_blob();
    if (!signature.empty()) {
        out << "Signature key:   " << key_fingerprint(signature) << " (pins the TLS exchange)\n";
    }
}

// Opens the keys as start-up does: a first run makes the container and both pairs (of `key_bits`).
crypto_provider& open_provider(const qvl_settings_data& settings,
                               unsigned key_bits = crypto_provider::default_key_bits) {
    crypto_provider& provider = process_crypto_provider();
    provider.set_initial_key_bits(key_bits);
    provider.open(settings.number(number_setting::machine_key_types));
    report_provider_state(provider);
    return provider;
}

// The options of init, checked before anything is written so a usage error leaves the settings alone.
struct init_choices {
    std::optional<std::string> name;
    std::optional<std::string> address;
    std::optional<std::uint32_t> port;
    std::optional<std::string> parcel_root;
    unsigned key_bits = crypto_provider::default_key_bits;
};

std::optional<std::string> check_init_options(const parsed_args& args, init_choices& choices) {
    if (!args.positional.empty()) {
        return "init takes no arguments besides its options";
    }
    if (auto name = args.value("name")) {
        if (name->empty()) {
            return "the user name must not be empty";
        }
        choices.name = *name;
    }
    if (auto address = args.value("address")) {
        in_addr parsed{};
        if (::inet_pton(AF_INET, address->c_str(), &parsed) != 1) {
            return "'" + *address + "' is not a dotted IPv4 address";
        }
        choices.address = *address;
    }
    if (auto port = args.value("port")) {
        auto number = parse_number(*port);
        if (!number || *number == 0 || *number > 65535) {
            return "the port must be a number from 1 to 65535";
        }
        choices.port = number;
    }
    if (auto root = args.value("parcel-root")) {
        if (root->empty()) {
            return "the parcel box root must not be empty";
        }
        choices.parcel_root = absolute_path(*root);
    }
    if (auto bits = args.value("key-bits")) {
        auto number = parse_number(*bits);
        if (!number || !is_valid_user_key_length(*number)) {
            return "--key-bits takes 1024 to 16384 in steps of 256";
        }
        choices.key_bits = *number;
    }
    return std::nullopt;
}

int run_init(const parsed_args& args, command_io& io) {
    init_choices choices;
    if (auto problem = check_init_options(args, choices)) {
        return fail(io, exit_usage, *problem + ".");
    }
    qvl_settings_data settings;
    if (!settings.user_key()) {
        return fail(io, exit_failure, "cannot open the user settings at " + reg::hive_location(reg::root::user) + ".");
    }
    if (!settings.machine_key()) {
        io.err << "quorvel-cli: warning: the machine settings at " << reg::hive_location(reg::root::machine)
               << " cannot be opened for writing; their current values stay in force.\n";
    }
    if (!setup_complete(settings.machine_key())) {
        set_machine_defaults(settings);
    }
    if (!setup_complete(settings.user_key())) {
        set_user_defaults(settings);
    }
    settings.load_settings();

    bool written = true;
    if (choices.name) {
        settings.set_text(text_setting::user_name, *choices.name);
        written &= write_text_setting(settings.user_key(), names::user_name, *choices.name);
    }
    if (choices.parcel_root) {
        settings.set_text(text_setting::parcel_box_directory_root, *choices.parcel_root);
        written &= write_text_setting(settings.user_key(), names::parcel_box_directory_root, *choices.parcel_root);
    }
    if (choices.address) {
        settings.set_text(text_setting::interface_ip_address, *choices.address);
        written &= write_text_setting(settings.machine_key(), names::interface_ip_address, *choices.address);
    }
    if (choices.port) {
        settings.set_number(number_setting::listening_port, *choices.port);
        written &= write_dword_setting(settings.machine_key(), names::interface_ip_port, *choices.port);
    }
    if (!written) {
        return fail(io, exit_failure, "the settings could not be written; nothing was changed for good.");
    }
    write_dword_setting(settings.machine_key(), names::setup_complete, 1);
    write_dword_setting(settings.user_key(), names::setup_complete, 1);

    const std::string root = settings.text(text_setting::parcel_box_directory_root);
    if (!create_directory_path(root) || !is_directory(root)) {
        io.err << "quorvel-cli: warning: the parcel box root " << root << " could not be created.\n";
    }
    print_identity(settings, open_provider(settings, choices.key_bits), io.out);
    return exit_success;
}

int run_whoami(const parsed_args& args, command_io& io) {
    if (!args.positional.empty()) {
        return fail(io, exit_usage, "whoami takes no arguments.");
    }
    qvl_settings_data settings;
    settings.load_settings();
    if (settings.text(text_setting::user_uuid).empty()) {
        return fail(io, exit_failure, "this user has no identity yet; run 'quorvel-cli init' first.");
    }
    print_identity(settings, open_provider(settings), io.out);
    return exit_success;
}

int run_friends(const parsed_args& args, command_io& io) {
    if (!args.positional.empty()) {
        return fail(io, exit_usage, "friends takes no arguments.");
    }
    qvl_settings_data settings;
    if (!settings.profile_list_key()) {
        return fail(io, exit_failure,
                    "cannot open the friend profiles at " + reg::hive_location(reg::root::user) + ".");
    }
    for (const std::string& name : list_profiles(settings)) {
        friend_profile profile;
        const bool consistent = read_profile(settings, name, profile);
        io.out << profile.name << "  " << profile.address << ':' << profile.port << "  " << profile.uuid;
        if (!consistent) {
            io.out << "  (stored key data are inconsistent)";
        } else if (profile.key_bytes > 0) {
            io.out << "  " << profile.key_bits << "-bit key "
                   << key_fingerprint({profile.key.data, static_cast<std::size_t>(profile.key_bytes)});
        } else {
            io.out << "  no key";
        }
        io.out << (profile.pinned() ? "  pinned" : "  legacy");
        io.out << '\n';
    }
    return exit_success;
}
} // namespace

std::vector<command> identity_commands() {
    return {
        {"init",
         "write first-run defaults and set this user's identity",
         "Usage: quorvel-cli init [--name NAME] [--address A] [--port N] [--parcel-root DIR] [--key-bits N]\n"
         "Writes the machine and user first-run defaults where set-up is not complete, applies the given\n"
         "options, marks set-up complete and prints the identity.\n\n"
         "  --name NAME         the user name friends see\n"
         "  --address A         dotted IPv4 address of the interface to listen on\n"
         "  --port N            TCP port to listen on (1-65535, default 20000)\n"
         "  --parcel-root DIR   directory below which every friend's parcel box lies\n"
         "  --key-bits N        length of the RSA key pairs made when this user has none yet\n"
         "                      (1024 to 16384 in steps of 256, default 3072)\n",
         {{"name", true}, {"address", true}, {"port", true}, {"parcel-root", true}, {"key-bits", true}},
         run_init},
        {"whoami",
         "print this user's identity",
         "Usage: quorvel-cli whoami\nPrints the user name, UUID, listening address and port, parcel box root, and the\n"
         "key-exchange key's length and fingerprint (SHA-256 of its public key blob).\n",
         {},
         run_whoami},
        {"friends",
         "list the friend profiles",
         "Usage: quorvel-cli friends\nPrints one line per friend profile: name, address:port, UUID, key length and\n"
         "key fingerprint.\n",
         {},
         run_friends},
    };
}

} // namespace tiv::cli
