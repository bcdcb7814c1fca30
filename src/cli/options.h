#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tiv::cli {

struct option_def {
    std::string name; // without the leading "--"
    bool takes_value = false;
};

// GNU-style long options: "--name VALUE", "--name=VALUE", "--flag", "--" ends the options; "-h" and
// "--help" ask for help. Anything else starting with '-' is a usage error.
struct parsed_args {
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;
    bool help = false;
    std::string error; // empty when the command line was well formed

    [[nodiscard]] bool has(const std::string& name) const { return options.count(name) != 0; }
    [[nodiscard]] std::optional<std::string> value(const std::string& name) const;
};

[[nodiscard]] parsed_args parse_args(const std::vector<std::string>& args, const std::vector<option_def>& definitions);

// Parses a decimal or 0x-prefixed hexadecimal 32-bit number; none when it is not one.
[[nodiscard]] std::optional<std::uint32_t> parse_number(const std::string& text);

} // namespace tiv::cli
