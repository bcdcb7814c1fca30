#include "cli/profile_options.h"

#include "core/text.h"
#include "crypto/session_key_types.h"

namespace tiv::cli {

namespace {
std::optional<std::uint32_t> parse_limit(const std::string& text) {
    if (text == "unlimited") {
        return unlimited;
    }
    auto number = parse_number(text);
    if (!number || *number == unlimited) {
        return std::nullopt;
    }
    return number;
}
} // namespace

std::vector<option_def> profile_option_defs(bool with_contact) {
    std::vector<option_def> definitions = {{"accept", false}, {"max-size", true}, {"max-count", true}, {"types", true}};
    if (with_contact) {
        definitions.push_back({"refuse", false});
        definitions.push_back({"address", true});
        definitions.push_back({"port", true});
    }
    return definitions;
}

std::optional<std::string> parse_profile_changes(const parsed_args& args, profile_changes& changes) {
    if (args.has("accept") && args.has("refuse")) {
        return std::string("--accept and --refuse exclude each other");
    }
    if (args.has("accept")) {
        changes.accept = true;
    }
    if (args.has("refuse")) {
        changes.accept = false;
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
        if (!changes.types || *changes.types == 0 || (*changes.types & ~all_session_key_types) != 0) {
            return "--types takes a non-empty mask of bits 0x001 to 0x800, not '" + *text + "'";
        }
    }
    if (auto text = args.value("address")) {
        if (text->empty() || text->size() > 31) {
            return std::string("--address takes an address of 1 to 31 characters");
        }
        changes.address = *text;
    }
    if (auto text = args.value("port")) {
        changes.port = parse_number(*text);
        if (!changes.port || *changes.port == 0 || *changes.port > 65535) {
            return std::string("--port takes a number from 1 to 65535");
        }
    }
    return std::nullopt;
}

void apply_profile_changes(const profile_changes& changes, friend_profile& profile) {
    if (changes.accept) {
        profile.receipt_enabled = *changes.accept ? 1 : 0;
    }
    if (changes.max_size) {
        profile.max_file_size = *changes.max_size;
    }
    if (changes.max_count) {
        profile.max_file_count = *changes.max_count;
    }
    if (changes.types) {
        profile.encryption_methods = *changes.types;
    }
    if (changes.address) {
        copy_text_field(profile.address, *changes.address);
    }
    if (changes.port) {
        profile.port = static_cast<std::int32_t>(*changes.port);
    }
}

} // namespace tiv::cli
