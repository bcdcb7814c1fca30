#include "platform/ipv6_reach.h"

#include <arpa/inet.h>
#include <array>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "platform/adapter_default_route.h"

namespace tiv {

namespace {

// Flags of /proc/net/if_inet6 that make an address one a friend cannot count on.
constexpr unsigned temporary = 0x01;
constexpr unsigned failed_duplicate_check = 0x08;
constexpr unsigned deprecated = 0x20;
constexpr unsigned tentative = 0x40;
constexpr unsigned global_scope = 0x00;

std::optional<unsigned> hex_value(const std::string& text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size() ? std::optional(value) : std::nullopt;
}

// The address of a line's 32 hexadecimal digits as IPv6 text, when it is one friends elsewhere can reach.
std::optional<std::string> global_address_text(const std::string& digits) {
    std::array<std::uint8_t, 16> bytes{};
    if (digits.size() != 2 * bytes.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto [end, error] = std::from_chars(digits.data() + 2 * i, digits.data() + 2 * i + 2, bytes[i], 16);
        if (error != std::errc() || end != digits.data() + 2 * i + 2) {
            return std::nullopt;
        }
    }
    if ((bytes[0] & 0xFE) == 0xFC) {
        return std::nullopt; // unique local: reachable only inside its own site
    }
    char text[INET6_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET6, bytes.data(), text, sizeof text) != nullptr ? std::optional<std::string>(text)
                                                                             : std::nullopt;
}

} // namespace

std::optional<std::string> lasting_global_ipv6(std::string_view table,
                                               const std::optional<std::string>& preferred_interface) {
    std::istringstream lines{std::string(table)};
    std::string line;
    std::optional<std::string> first;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string digits, index, prefix, scope, flags, name;
        if (!(fields >> digits >> index >> prefix >> scope >> flags >> name)) {
            continue;
        }
        const auto scope_value = hex_value(scope);
        const auto flag_value = hex_value(flags);
        if (!scope_value || !flag_value || *scope_value != global_scope ||
            (*flag_value & (temporary | failed_duplicate_check | deprecated | tentative)) != 0) {
            continue;
        }
        std::optional<std::string> address = global_address_text(digits);
        if (!address) {
            continue;
        }
        if (preferred_interface && name == *preferred_interface) {
            return address;
        }
        if (!first) {
            first = std::move(address);
        }
    }
    return first;
}

std::optional<std::string> lasting_global_ipv6_of_this_machine() {
    std::ifstream addresses("/proc/net/if_inet6");
    std::ostringstream table;
    table << addresses.rdbuf();
    std::ifstream routes("/proc/net/route");
    std::ostringstream route_table;
    route_table << routes.rdbuf();
    return lasting_global_ipv6(table.str(), default_route_interface(route_table.str()));
}

} // namespace tiv
