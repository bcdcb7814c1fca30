#include "cli/options.h"

#include <cerrno>
#include <cstdlib>

namespace tiv::cli {

std::optional<std::string> parsed_args::value(const std::string& name) const {
    auto found = options.find(name);
    if (found == options.end()) {
        return std::nullopt;
    }
    return found->second;
}

parsed_args parse_args(const std::vector<std::string>& args, const std::vector<option_def>& definitions) {
    parsed_args parsed;
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_ended || arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            parsed.help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            parsed.error = "unknown option '" + arg + "'";
            return parsed;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const option_def* params = nullptr;
        for (const option_def& candidate : definitions) {
            if (candidate.name == name) {
                params = &candidate;
            }
        }
        if (params == nullptr) {
            parsed.error = "unknown option '--" + name + "'";
            return parsed;
        }
        if (!params->takes_value) {
            if (equals != std::string::npos) {
                parsed.error = "option '--" + name + "' takes no value";
                return parsed;
            }
            parsed.options[name] = "";
            continue;
        }
        if (equals != std::string::npos) {
            parsed.options[name] = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            parsed.options[name] = args[++i];
        } else {
            parsed.error = "option '--" + name + "' needs a value";
            return parsed;
        }
    }
    return parsed;
}

std::optional<std::uint32_t> parse_number(const std::string& text) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return std::nullopt;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || number > 0xFFFFFFFFULL) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(number);
}

} // namespace tiv::cli
