#include "cli/cli.h"
#include "cli/command.h"
#include "cli/user_keys.h"
#include "crypto/crypto_provider.h"
#include "crypto/key_management.h"
#include "settings/qvl_settings_data.h"

namespace tiv::cli {

namespace {
int run_rekey(const parsed_args& args, command_io& io) {
    if (!args.positional.empty()) {
        return fail(io, exit_usage, "rekey takes no arguments besides --bits.");
    }
    unsigned bits = crypto_provider::default_key_bits;
    if (auto text = args.value("bits")) {
        const auto number = parse_number(*text);
        if (!number || !is_valid_user_key_length(*number)) {
            return fail(io, exit_usage, "--bits takes 1024 to 16384 in steps of 256, not '" + *text + "'.");
        }
        bits = *number;
    }
    qvl_settings_data settings;
    crypto_provider* keys = open_user_keys(settings, io);
    if (keys == nullptr) {
        return exit_failure;
    }
    crypto_provider& provider = *keys;
    if (!provider.container_open) {
        return fail(io, exit_failure, "the key container cannot be opened, so no keys were replaced.");
    }
    for (const key_warning& warning : rekey_warnings(bits)) {
        io.err << "quorvel-cli: warning: " << warning.caption << " " << warning.text << "\n\n";
    }
    io.out << "Making two " << bits << "-bit key pairs (estimated strength " << estimated_strength(bits)
           << " effective bits)...\n";
    const rekey_outcome outcome = replace_user_keys(provider, bits);
    io.out << outcome.signature_message << '\n' << outcome.exchange_message << '\n';
    if (!outcome.signature_made || !outcome.exchange_made) {
        return fail(io, exit_failure, "a key pair could not be made; the old pair stays in place.");
    }
    io.out << "Friends must import your new profile (quorvel-cli export-profile) before they can exchange files "
              "with you again.\n";
    return exit_success;
}
} // namespace

std::vector<command> key_commands() {
    return {{"rekey",
             "replace both RSA key pairs",
             "Usage: quorvel-cli rekey [--bits N]\n"
             "Replaces the signature and the key-exchange key pairs with new ones of N bits (1024 to 16384 in\n"
             "steps of 256; default 3072) and reports how long each took. Every friend needs your new profile\n"
             "afterwards.\n",
             {{"bits", true}},
             run_rekey}};
}

} // namespace tiv::cli
