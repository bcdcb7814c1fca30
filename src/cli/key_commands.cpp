#include <iostream>
#include <string>
#include <unistd.h>

#include "app/keys.h"
#include "app/program.h"
#include "cli/cli.h"
#include "cli/command.h"

namespace tiv::cli {

namespace {
// Replacing keys cannot be undone, so it takes a word typed at a terminal, or --yes where nobody sits at one.
bool confirmed_on_terminal(command_io& io) {
    if (::isatty(STDIN_FILENO) != 1) {
        return false;
    }
    io.err << "Type 'yes' to replace both key pairs: " << std::flush;
    std::string answer;
    return static_cast<bool>(std::getline(std::cin, answer)) && answer == "yes";
}

int run_rekey(const parsed_args& args, command_io& io) {
    if (!args.positional.empty()) {
        return fail(io, exit_usage, "rekey takes no arguments besides --bits and --yes.");
    }
    unsigned bits = app::default_key_bits;
    if (auto text = args.value("bits")) {
        const auto number = parse_number(*text);
        if (!number || !app::is_offered_key_length(*number)) {
            return fail(io, exit_usage, "--bits takes 1024 to 16384 in steps of 256, not '" + *text + "'.");
        }
        bits = *number;
    }
    const bool interactive = ::isatty(STDIN_FILENO) == 1;
    if (!args.has("yes") && !interactive) {
        return fail(io, exit_usage,
                    "rekey replaces your keys for good; confirm at a terminal, or pass --yes. Nothing was replaced.");
    }
    app::program program(io.terminal);
    if (app::status opened = app::open_keys_for_rekey(program); !opened) {
        return fail(io, exit_failure, opened.text());
    }
    for (const app::key_question& warning : app::rekey_questions(bits)) {
        io.err << "quorvel-cli: warning: " << warning.caption << " " << warning.text << "\n\n";
    }
    if (!args.has("yes") && !confirmed_on_terminal(io)) {
        return fail(io, exit_failure, "nothing was replaced.");
    }
    io.out << "Making two " << bits << "-bit key pairs (estimated strength " << app::key_strength(bits)
           << " effective bits)...\n";
    const app::rekey_report report = app::rekey(program, bits);
    io.out << report.signature_message << '\n' << report.exchange_message << '\n';
    if (!report.outcome) {
        return fail(io, exit_failure, report.outcome.text());
    }
    io.out << "Friends must import your new profile (quorvel-cli export-profile) before they can exchange files "
              "with you again.\n";
    return exit_success;
}
} // namespace

std::vector<command> key_commands() {
    return {{"rekey",
             "replace both RSA key pairs",
             "Usage: quorvel-cli rekey [--bits N] [--yes]\n"
             "Replaces the signature and the key-exchange key pairs with new ones of N bits (1024 to 16384 in\n"
             "steps of 256; default 3072) and reports how long each took. Every friend needs your new profile\n"
             "afterwards. It is also the way out when a key file was lost, damaged or readable by others.\n\n"
             "  --bits N   length of the new key pairs\n"
             "  --yes      replace without asking; needed when the input is not a terminal\n",
             {{"bits", true}, {"yes", false}},
             run_rekey}};
}

} // namespace tiv::cli
