#include "cli/cli.h"

#include "cli/command.h"
#include "net/rthread.h"
#include "platform/message_box.h"

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

// Questions from the core become warnings on the error stream: a command line has nobody to click OK.
class message_box_to_stream {
public:
    explicit message_box_to_stream(std::ostream& err)
        : m_oPrevious(set_message_box_hook([&err](const std::string& text, const std::string& caption, unsigned) {
              std::string flat;
              for (char c : text) {
                  if (c != '\r') {
                      flat += c == '\n' ? ' ' : c;
                  }
              }
              err << "quorvel-cli: " << caption << ": " << flat << '\n';
              return static_cast<int>(IDOK);
          })) {}
    message_box_to_stream(const message_box_to_stream&) = delete;
    message_box_to_stream& operator=(const message_box_to_stream&) = delete;
    ~message_box_to_stream() { set_message_box_hook(std::move(m_oPrevious)); }

private:
    message_box_hook m_oPrevious;
};

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
    out << "\nRun 'quorvel-cli COMMAND --help' for the options of one command.\n";
}
} // namespace

int fail(command_io& io, int code, const std::string& sentence) {
    io.err << "quorvel-cli: " << sentence << '\n';
    return code;
}

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    command_io io{out, err};
    const message_box_to_stream questions(err);
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
        wait_for_transfer_threads();
        return code;
    }
    return fail(io, exit_usage, "unknown command '" + name + "' (see 'quorvel-cli --help').");
}

} // namespace tiv::cli
