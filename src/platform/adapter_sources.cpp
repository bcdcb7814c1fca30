#include "platform/adapter_sources.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <fcntl.h>
#include <net/if.h>
#include <sys/stat.h>

#include "core/unique_fd.h"

namespace tiv {

namespace {

// The resolver reads no more name servers than this (MAXNS).
constexpr std::size_t resolver_server_limit = 3;
constexpr std::size_t max_statement_length = 1024;
// A dhclient statement may span lines.
constexpr const char* blanks = " \t\r\n";

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// Splits off the next whitespace-separated word of `text`.
std::string_view next_word(std::string_view& text) {
    text = trim(text);
    const auto end = text.find_first_of(blanks);
    const std::string_view word = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end);
    return word;
}

template <typename T> std::optional<T> parse_decimal(std::string_view text) {
    T value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

bool is_ipv4(std::string_view text) {
    if (text.size() >= INET_ADDRSTRLEN) {
        return false;
    }
    const std::string copy(text);
    in_addr parsed = {};
    return ::inet_pton(AF_INET, copy.c_str(), &parsed) == 1;
}

bool is_ipv6(std::string_view text) {
    const std::string_view address = text.substr(0, text.find('%')); // a link-local server names its interface
    if (address.size() >= INET6_ADDRSTRLEN) {
        return false;
    }
    const std::string copy(address);
    in6_addr parsed = {};
    return ::inet_pton(AF_INET6, copy.c_str(), &parsed) == 1;
}

// Fixed-width field of `text` at `offset` as a number within [low, high].
std::optional<int> field(std::string_view text, std::size_t offset, std::size_t width, int low, int high) {
    if (offset + width > text.size()) {
        return std::nullopt;
    }
    const auto value = parse_decimal<int>(text.substr(offset, width));
    if (!value || *value < low || *value > high) {
        return std::nullopt;
    }
    return value;
}

// dhclient's times: "epoch N" or "W YYYY/MM/DD HH:MM:SS" in UTC.
std::optional<std::int64_t> parse_lease_time(std::string_view rest) {
    const std::string_view first = next_word(rest);
    if (first == "epoch") {
        const std::string_view seconds = next_word(rest);
        if (!trim(rest).empty()) {
            return std::nullopt;
        }
        return parse_decimal<std::int64_t>(seconds);
    }
    const std::string_view date = next_word(rest);
    const std::string_view clock = next_word(rest);
    if (!parse_decimal<int>(first) || !trim(rest).empty() || date.size() != 10 || clock.size() != 8 || date[4] != '/' ||
        date[7] != '/' || clock[2] != ':' || clock[5] != ':') {
        return std::nullopt;
    }
    const auto year = field(date, 0, 4, 1970, 9999);
    const auto month = field(date, 5, 2, 1, 12);
    const auto day = field(date, 8, 2, 1, 31);
    const auto hour = field(clock, 0, 2, 0, 23);
    const auto minute = field(clock, 3, 2, 0, 59);
    const auto second = field(clock, 6, 2, 0, 60);
    if (!year || !month || !day || !hour || !minute || !second) {
        return std::nullopt;
    }
    std::tm utc = {};
    utc.tm_year = *year - 1900;
    utc.tm_mon = *month - 1;
    utc.tm_mday = *day;
    utc.tm_hour = *hour;
    utc.tm_min = *minute;
    utc.tm_sec = *second;
    return static_cast<std::int64_t>(::timegm(&utc));
}

// The lease block being read and what it has given so far.
struct lease_in_progress {
    std::string interface;
    std::string server;
    std::optional<std::int64_t> lease_time;
    std::optional<std::int64_t> expires;
};

void take_statement(std::string_view statement, lease_in_progress& lease) {
    std::string_view rest = statement;
    const std::string_view keyword = next_word(rest);
    if (keyword == "interface") {
        const std::string_view quoted = trim(rest);
        if (quoted.size() >= 3 && quoted.size() <= IFNAMSIZ + 1 && quoted.front() == '"' && quoted.back() == '"') {
            lease.interface = std::string(quoted.substr(1, quoted.size() - 2));
        }
    } else if (keyword == "expire") {
        lease.expires = parse_lease_time(rest);
    } else if (keyword == "option") {
        const std::string_view name = next_word(rest);
        const std::string_view value = trim(rest);
        if (name == "dhcp-server-identifier" && is_ipv4(value)) {
            lease.server = std::string(value);
        } else if (name == "dhcp-lease-time") {
            lease.lease_time = parse_decimal<std::uint32_t>(value);
        }
    }
}

} // namespace

std::vector<interface_lease> parse_dhclient_leases(std::string_view original) {
    // Comments run from '#' to the end of their line (dhclient puts one after times written as epochs).
    std::string uncommented;
    uncommented.reserve(original.size());
    for (std::size_t position = 0; position < original.size();) {
        const auto end = original.find('\n', position);
        const std::size_t stop = end == std::string_view::npos ? original.size() : end;
        const std::string_view line = original.substr(position, stop - position);
        uncommented.append(line.substr(0, line.find('#')));
        uncommented += '\n';
        position = stop + 1;
    }
    const std::string_view text = uncommented;

    std::vector<interface_lease> leases;
    std::optional<lease_in_progress> current;
    std::size_t position = 0;
    while (position < text.size()) {
        const auto end = text.find(';', position);
        const auto brace = text.find_first_of("{}", position);
        // Blocks open and close with braces; statements end with semicolons.
        if (brace != std::string_view::npos && (end == std::string_view::npos || brace < end)) {
            if (text[brace] == '{') {
                current.reset();
                // A statement cut short before the block (a file written halfway) must not hide the block.
                const std::string_view before = trim(text.substr(position, brace - position));
                const auto last_blank = before.find_last_of(blanks);
                if (before.substr(last_blank == std::string_view::npos ? 0 : last_blank + 1) == "lease") {
                    current.emplace();
                }
            } else if (current && !current->interface.empty() && !current->server.empty() && current->lease_time &&
                       current->expires && *current->expires >= *current->lease_time) {
                leases.push_back({current->interface,
                                  {current->server, *current->expires - *current->lease_time, *current->expires}});
                current.reset();
            } else {
                current.reset();
            }
            position = brace + 1;
            continue;
        }
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        const std::string_view statement = text.substr(position, stop - position);
        if (current && statement.size() <= max_statement_length) {
            take_statement(trim(statement), *current);
        }
        position = stop + 1;
    }
    return leases;
}

std::optional<adapter_lease> parse_networkd_lease(std::string_view text, std::int64_t written_at) {
    std::string server;
    std::optional<std::uint32_t> lifetime;
    std::size_t position = 0;
    while (position < text.size()) {
        const auto end = text.find('\n', position);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        const std::string_view line = trim(text.substr(position, stop - position));
        position = stop + 1;
        const auto equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "SERVER_ADDRESS" && is_ipv4(value)) {
            server = std::string(value);
        } else if (key == "LIFETIME") {
            lifetime = parse_decimal<std::uint32_t>(value);
        }
    }
    if (server.empty() || !lifetime) {
        return std::nullopt;
    }
    return adapter_lease{server, written_at, written_at + *lifetime};
}

std::vector<std::string> parse_resolv_conf(std::string_view text) {
    std::vector<std::string> servers;
    std::size_t position = 0;
    while (position < text.size() && servers.size() < resolver_server_limit) {
        const auto end = text.find('\n', position);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        std::string_view line = text.substr(position, stop - position);
        position = stop + 1;
        const std::string_view keyword = next_word(line);
        const std::string_view address = next_word(line);
        const std::string_view extra = trim(line);
        if (keyword == "nameserver" && (extra.empty() || extra.front() == '#' || extra.front() == ';') &&
            (is_ipv4(address) || is_ipv6(address))) {
            servers.emplace_back(address);
        }
    }
    return servers;
}

std::optional<std::string> read_small_file(const std::string& path, std::size_t limit) {
    const unique_fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        return std::nullopt;
    }
    std::string contents;
    char piece[4096];
    for (;;) {
        const ssize_t count = ::read(file.get(), piece, sizeof piece);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (count == 0) {
            return contents;
        }
        if (contents.size() + static_cast<std::size_t>(count) > limit) {
            return std::nullopt;
        }
        contents.append(piece, static_cast<std::size_t>(count));
    }
}

} // namespace tiv
