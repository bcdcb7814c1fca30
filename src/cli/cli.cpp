#include "cli/cli.h"

#include "app/keys.h"
#include "app/program.h"
#include "app/settings/program_options.h"
#include "cli/command.h"
#include "core/version.h"

namespace tiv::cli {

namespace {
std::vector<command> all_commands() {
    std::vector<command> commands;
    for (auto group :
         {identity_commands, profile_commands, key_commands, registry_commands, presence_commands, transfer_commands}) {
        for (auto& c : group()) {
            commands.push_back(std::move(c));
        }
    }
    return commands;
}

void print_overview(std::ostream& out, const std::vector<command>& commands) {
    out << "Usage: quorvel-cli COMMAND [OPTIONS]\n"
           "Sends files directly to a friend's computer, mutually authenticated and encrypted.\n\n"
           "Commands:\n";
    for (const command& c : commands) {
        out << "  " << c.name;
        for (std::size_t pad = std::char_traits<char>::length(c.name); pad < 16; ++pad) {
            out << ' ';
        }
        out << c.summary << '\n';
    }
    out << "\nRun 'quorvel-cli COMMAND --help' for the options of one command, 'quorvel-cli --version' for the\n"
           "version.\n";
}
} // namespace

int fail(command_io& io, int code, const std::string& sentence) {
    io.err << "quorvel-cli: " << sentence << '\n';
    return code;
}

void warn_about_machine_settings(command_io& io, app::program& program) {
    if (const std::optional<std::string> notice = app::machine_settings_notice(program)) {
        io.err << "quorvel-cli: warning: " << *notice << '\n';
    }
}

void warn_about_keys(command_io& io, app::program& program) {
    if (const std::optional<std::string> notice = app::keys_unlike_record(program)) {
        io.err << "quorvel-cli: warning: " << *notice << '\n';
    }
}

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    // Every question a command's program asks is printed and answered OK.
    console terminal(err);
    command_io io{out, err, terminal};
    const std::vector<command> commands = all_commands();
    if (argc < 2) {
        print_overview(err, commands);
        return exit_usage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        print_overview(out, commands);
        return exit_success;
    }
    if (name == "--version") {
        out << version_text("quorvel-cli") << '\n';
        return exit_success;
    }
    for (const command& c : commands) {
        if (name != c.name) {
            continue;
        }
        const parsed_args args = parse_args(std::vector<std::string>(argv + 2, argv + argc), c.options);
        if (args.help) {
            out << c.usage;
            return exit_success;
        }
        if (!args.error.empty()) {
            return fail(io, exit_usage, args.error + " (see 'quorvel-cli " + name + " --help').");
        }
        const int code = c.run(args, io);
        // Transfer threads may still be releasing their connections and keys; the process ends only after them.
        app::wait_for_transfers();
        return code;
    }
    return fail(io, exit_usage, "unknown command '" + name + "' (see 'quorvel-cli --help').");
}

} // namespace tiv::cli
