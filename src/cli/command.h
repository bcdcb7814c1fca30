#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/options.h"

namespace tiv::app {
class program;
} // namespace tiv::app

namespace tiv::cli {

struct command_io {
    std::ostream& out;
    std::ostream& err;
    console& terminal; // the answers to the program's questions and the sink of its events
};

struct command {
    const char* name;
    const char* summary;
    const char* usage; // the full help text printed by --help
    std::vector<option_def> options;
    int (*run)(const parsed_args& args, command_io& io);
};

// Each group of commands registers here.
std::vector<command> identity_commands();
std::vector<command> registry_commands();
std::vector<command> transfer_commands();
std::vector<command> profile_commands();
std::vector<command> key_commands();
std::vector<command> presence_commands();

// Prints "quorvel-cli: <sentence>" on the error stream and returns the given exit code.
int fail(command_io& io, int code, const std::string& sentence);
// Warns, naming the file, when the machine settings are read-only or unusable: their values then come from defaults
// or stay as they are, which explains a port or key types the user did not expect.
void warn_about_machine_settings(command_io& io, app::program& program);
// Says so when the keys found are not the ones this user made last.
void warn_about_keys(command_io& io, app::program& program);

} // namespace tiv::cli
