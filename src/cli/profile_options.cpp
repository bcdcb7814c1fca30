#include "cli/profile_options.h"

namespace tiv::cli {

namespace {
std::optional<std::uint32_t> parse_limit(const std::string& text) {
    if (text == "unlimited") {
        return app::unlimited;
    }
    auto number = parse_number(text);
    if (!number || *number == app::unlimited) {
        return std::nullopt;
    }
    return number;
}
} // namespace

std::vector<option_def> profile_option_defs(bool with_contact, bool with_key_consent) {
    std::vector<option_def> definitions = {{"accept", false}, {"max-size", true}, {"max-count", true}, {"types", true}};
    if (with_contact) {
        definitions.push_back({"messages", true});
        definitions.push_back({"refuse", false});
        definitions.push_back({"address", true});
        definitions.push_back({"port", true});
    }
    if (with_key_consent) {
        definitions.push_back({"replace-keys", false});
    }
    return definitions;
}

std::optional<std::string> parse_friend_policy(const parsed_args& args, app::friend_policy& changes) {
    if (args.has("accept") && args.has("refuse")) {
        return std::string("--accept and --refuse exclude each other");
    }
    if (args.has("accept")) {
        changes.accept = true;
    }
    if (args.has("refuse")) {
        changes.accept = false;
    }
    if (auto text = args.value("messages")) {
        if (*text != "on" && *text != "off") {
            return "--messages takes 'on' or 'off', not '" + *text + "'";
        }
        changes.messages = *text == "on";
    }
    if (auto text = args.value("max-size")) {
        if (!(changes.max_size = parse_limit(*text))) {
            return "--max-size takes a byte count below 4294967295 or 'unlimited', not '" + *text + "'";
        }
    }
    if (auto text = args.value("max-count")) {
        if (!(changes.max_count = parse_limit(*text))) {
            return "--max-count takes a file count below 4294967295 or 'unlimited', not '" + *text + "'";
        }
    }
    if (auto text = args.value("types")) {
        changes.types = parse_number(*text);
        if (!changes.types || !app::is_valid_key_type_mask(*changes.types)) {
            return "--types takes a non-empty mask of bits 0x001 to 0x800, not '" + *text + "'";
        }
    }
    if (auto text = args.value("address")) {
        if (const app::status address = app::check_friend_address(*text); !address) {
            // The reason is a whole sentence, and the caller adds the full stop of its own.
            return "--address takes a host name, a dotted IPv4 or an IPv6 address: " +
                   address.text().substr(0, address.text().size() - 1);
        }
        changes.address = *text;
    }
    if (auto text = args.value("port")) {
        changes.port = parse_number(*text);
        if (!changes.port || !app::is_valid_friend_port(*changes.port)) {
            return std::string("--port takes a number from 1 to 65535");
        }
    }
    return std::nullopt;
}

} // namespace tiv::cli
