#include "platform/adapter_default_route.h"

#include <arpa/inet.h>
#include <charconv>
#include <fstream>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <net/route.h>
#include <sstream>

namespace tiv {

namespace {
std::optional<std::uint32_t> hex_field(const std::string& text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> decimal_field(const std::string& text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::vector<interface_ipv4> this_machines_addresses() {
    std::vector<interface_ipv4> found;
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        return found;
    }
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> list(raw, ::freeifaddrs);
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || entry->ifa_name == nullptr) {
            continue;
        }
        interface_ipv4 address;
        address.interface_name = entry->ifa_name;
        address.address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        address.up = (entry->ifa_flags & IFF_UP) != 0;
        address.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        found.push_back(std::move(address));
    }
    return found;
}

bool is_loopback_address(std::uint32_t address) {
    return (address >> 24) == 127;
}
} // namespace

std::optional<std::string> default_route_interface(std::string_view route_table) {
    std::istringstream lines{std::string(route_table)};
    std::string line;
    std::getline(lines, line); // the header names the columns
    std::optional<std::string> best;
    std::uint32_t best_metric = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, references, use, metric, mask;
        if (!(fields >> name >> destination >> gateway >> flags >> references >> use >> metric >> mask)) {
            continue;
        }
        const auto destination_value = hex_field(destination);
        const auto flag_value = hex_field(flags);
        const auto mask_value = hex_field(mask);
        const auto metric_value = decimal_field(metric);
        if (!destination_value || !flag_value || !mask_value || !metric_value) {
            continue;
        }
        if (*destination_value != 0 || *mask_value != 0 || (*flag_value & RTF_UP) == 0) {
            continue;
        }
        if (!best || *metric_value < best_metric) {
            best = name;
            best_metric = *metric_value;
        }
    }
    return best;
}

std::optional<std::uint32_t> reachable_ipv4(const std::optional<std::string>& default_interface,
                                            const std::vector<interface_ipv4>& addresses) {
    if (default_interface) {
        for (const interface_ipv4& entry : addresses) {
            if (entry.interface_name == *default_interface && entry.up && !is_loopback_address(entry.address)) {
                return entry.address;
            }
        }
    }
    for (const interface_ipv4& entry : addresses) {
        if (entry.up && !entry.loopback && !is_loopback_address(entry.address) && entry.address != 0) {
            return entry.address;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> reachable_ipv4_of_this_machine() {
    std::ifstream file("/proc/net/route");
    std::ostringstream table;
    table << file.rdbuf();
    return reachable_ipv4(default_route_interface(table.str()), this_machines_addresses());
}

} // namespace tiv
