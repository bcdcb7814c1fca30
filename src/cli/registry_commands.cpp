#include "app/settings/raw_settings.h"
#include "cli/cli.h"
#include "cli/command.h"

namespace tiv::cli {

namespace {
constexpr const char* reg_usage =
    "Usage: quorvel-cli reg get machine|user NAME\n"
    "       quorvel-cli reg set machine|user NAME dword|sz|binary VALUE\n"
    "       quorvel-cli reg export [machine|user]\n"
    "Reads and writes values of the settings key \"Version 1.2\" of the machine or the user, and prints whole\n"
    "hives in the text form of a .reg file. dword takes decimal or 0x-prefixed hexadecimal; binary takes hex\n"
    "digits (pairs, optionally separated by ',' or blanks).\n";

// The hive a word names; none after telling the user why, for a usage failure.
std::optional<app::hive> named_hive(const std::string& word, command_io& io) {
    if (word == "machine") {
        return app::hive::machine;
    }
    if (word == "user") {
        return app::hive::user;
    }
    (void)fail(io, exit_usage, "the hive must be 'machine' or 'user', not '" + word + "'.");
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> parse_hex_bytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ',' || c == ' ' || c == ':') {
            if (high >= 0) {
                return std::nullopt;
            }
            continue;
        }
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) {
        return std::nullopt;
    }
    return bytes;
}

int run_get(const std::vector<std::string>& words, command_io& io) {
    if (words.size() != 3) {
        return fail(io, exit_usage, "reg get needs machine|user and a value name.");
    }
    const auto which = named_hive(words[1], io);
    if (!which) {
        return exit_usage;
    }
    const auto value = app::read_raw_setting(*which, words[2]);
    if (!value) {
        return fail(io, exit_failure, value.error().text());
    }
    io.out << *value << '\n';
    return exit_success;
}

int run_set(const std::vector<std::string>& words, command_io& io) {
    if (words.size() != 5) {
        return fail(io, exit_usage, "reg set needs machine|user, a value name, a type and a value.");
    }
    const auto which = named_hive(words[1], io);
    if (!which) {
        return exit_usage;
    }
    const std::string& name = words[2];
    const std::string& type = words[3];
    const std::string& text = words[4];
    if (type != "dword" && type != "sz" && type != "binary") {
        return fail(io, exit_usage, "the type must be dword, sz or binary, not '" + type + "'.");
    }
    std::optional<std::uint32_t> number;
    std::optional<std::vector<std::uint8_t>> bytes;
    if (type == "dword" && !(number = parse_number(text))) {
        return fail(io, exit_usage, "'" + text + "' is not a 32-bit number.");
    }
    if (type == "binary" && !(bytes = parse_hex_bytes(text))) {
        return fail(io, exit_usage, "'" + text + "' is not a sequence of hexadecimal byte pairs.");
    }
    app::status written;
    if (type == "dword") {
        written = app::write_raw_dword(*which, name, *number);
    } else if (type == "sz") {
        written = app::write_raw_text(*which, name, text);
    } else {
        written = app::write_raw_binary(*which, name, *bytes);
    }
    if (!written) {
        // A value out of its range is a mistake on the command line, like one that is no number.
        return fail(io, written.code() == app::status_code::invalid ? exit_usage : exit_failure, written.text());
    }
    return exit_success;
}

int run_export(const std::vector<std::string>& words, command_io& io) {
    if (words.size() > 2) {
        return fail(io, exit_usage, "reg export takes at most one of machine|user.");
    }
    std::vector<app::hive> hives = {app::hive::machine, app::hive::user};
    if (words.size() == 2) {
        const auto which = named_hive(words[1], io);
        if (!which) {
            return exit_usage;
        }
        hives = {*which};
    }
    const auto exported = app::export_raw_settings(hives);
    if (!exported) {
        return fail(io, exit_failure, exported.error().text());
    }
    io.out << *exported;
    return exit_success;
}

int run_reg(const parsed_args& args, command_io& io) {
    const std::vector<std::string>& words = args.positional;
    if (words.empty()) {
        return fail(io, exit_usage, "reg needs a subcommand: get, set or export.");
    }
    if (words[0] == "get") {
        return run_get(words, io);
    }
    if (words[0] == "set") {
        return run_set(words, io);
    }
    if (words[0] == "export") {
        return run_export(words, io);
    }
    return fail(io, exit_usage, "unknown reg subcommand '" + words[0] + "'; use get, set or export.");
}
} // namespace

std::vector<command> registry_commands() {
    return {{"reg", "read, write and export raw settings", reg_usage, {}, run_reg}};
}

} // namespace tiv::cli
