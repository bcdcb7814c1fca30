#include "core/address_text.h"

#include <algorithm>
#include <arpa/inet.h>

#include "core/outside_text.h"

namespace tiv {

namespace {
constexpr std::size_t max_host_name_length = 253;
constexpr std::size_t max_label_length = 63;
constexpr std::size_t max_zone_length = 15; // IFNAMSIZ without its terminating zero

bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_label_character(char c) {
    return is_ascii_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
}

bool is_zone_character(char c) {
    return is_label_character(c) || c == '.';
}

bool parses_as(int family, std::string_view text) {
    unsigned char parsed[sizeof(in6_addr)] = {};
    return ::inet_pton(family, std::string(text).c_str(), parsed) == 1;
}

// One label of a host name: 1 to 63 characters that neither start nor end with '-'.
bool is_label(std::string_view label) {
    return !label.empty() && label.size() <= max_label_length && label.front() != '-' && label.back() != '-' &&
           std::all_of(label.begin(), label.end(), is_label_character);
}
} // namespace

std::optional<std::string> address_fault(std::string_view text) {
    if (text.empty()) {
        return "is empty";
    }
    if (!is_tame_text(text)) {
        return "holds control or bidirectional characters";
    }
    if (text.find(' ') != std::string_view::npos) {
        return "holds a blank";
    }
    if (text.find(':') != std::string_view::npos) {
        // A link-local address names the interface it is reached through after a '%' ("fe80::1%eth0").
        const std::size_t percent = text.find('%');
        const std::string_view zone = percent == std::string_view::npos ? "" : text.substr(percent + 1);
        if (percent != std::string_view::npos && (zone.empty() || zone.size() > max_zone_length ||
                                                  !std::all_of(zone.begin(), zone.end(), is_zone_character))) {
            return "does not name an interface after its '%'";
        }
        return parses_as(AF_INET6, text.substr(0, percent)) ? std::nullopt
                                                            : std::optional<std::string>("is not an IPv6 address");
    }
    std::string_view name = text;
    if (name.back() == '.') {
        name.remove_suffix(1); // the root's dot of a fully qualified name
    }
    // A name whose last label is all digits reads as an address, and the resolver takes "127.1" or "1.2.3.999" for
    // something other than what was meant, so only a whole dotted IPv4 address is one.
    const std::string_view last = name.substr(name.rfind('.') + 1);
    if (!last.empty() && std::all_of(last.begin(), last.end(), is_ascii_digit)) {
        return parses_as(AF_INET, text) ? std::nullopt : std::optional<std::string>("is not a dotted IPv4 address");
    }
    if (name.empty() || name.size() > max_host_name_length) {
        return "is not a host name of 1 to 253 characters";
    }
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t end = std::min(name.find('.', start), name.size());
        if (!is_label(name.substr(start, end - start))) {
            return "is not a host name: its parts are 1 to 63 letters, digits, '-' or '_', between dots";
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::string endpoint_words(const std::string& host, std::uint32_t port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

} // namespace tiv
