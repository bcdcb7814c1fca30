#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/adapters.h"

namespace tiv {

namespace {

// An adapter without an IPv4 address still shows the first entry of its address list, which is unassigned.
constexpr const char* unassigned_address = "0.0.0.0";

tree_node leaf(std::string text) {
    return tree_node{std::move(text), {}};
}

void append_lines(std::string& out, const std::vector<tree_node>& nodes, int depth, int indent) {
    for (const tree_node& node : nodes) {
        out.append(static_cast<std::size_t>(depth * indent), ' ');
        out += node.text;
        out += '\n';
        append_lines(out, node.children, depth + 1, indent);
    }
}

} // namespace

const char* adapter_type_name(adapter_type type) {
    switch (type) {
    case adapter_type::ethernet:
        return "ETHERNET";
    case adapter_type::token_ring:
        return "TOKENRING";
    case adapter_type::fddi:
        return "FDDI";
    case adapter_type::ppp:
        return "PPP";
    case adapter_type::loopback:
        return "LOOPBACK";
    case adapter_type::slip:
        return "SLIP";
    default:
        return "[unknown interface type]";
    }
}

ipv6_scope ipv6_scope_of(std::span<const std::uint8_t, 16> address) {
    constexpr std::uint8_t loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (std::equal(address.begin(), address.end(), std::begin(loopback))) {
        return ipv6_scope::loopback;
    }
    if (address[0] == 0xfe && (address[1] & 0xc0) == 0x80) { // fe80::/10
        return ipv6_scope::link_local;
    }
    if ((address[0] & 0xfe) == 0xfc) { // fc00::/7
        return ipv6_scope::unique_local;
    }
    return ipv6_scope::global;
}

const char* ipv6_scope_name(ipv6_scope scope) {
    switch (scope) {
    case ipv6_scope::unique_local:
        return "unique local";
    case ipv6_scope::link_local:
        return "link-local";
    case ipv6_scope::loopback:
        return "loopback";
    case ipv6_scope::global:
        break;
    }
    return "global";
}

std::string adapter_hw_address_text(std::span<const std::uint8_t> address) {
    if (address.empty()) {
        return "xx:xx:xx:xx:xx:xx:";
    }
    // Only the bytes the adapter has: padding a six-byte MAC to eight would show bytes that do not exist.
    std::string text;
    for (std::size_t i = 0; i < address.size() && i < max_hardware_address_length; ++i) {
        char pair[4] = {};
        std::snprintf(pair, sizeof pair, i == 0 ? "%02x" : ":%02x", address[i]);
        text += pair;
    }
    return text;
}

std::string adapter_lease_text(std::int64_t time) {
    static constexpr const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    constexpr int asctime_length = 24;
    const auto seconds = static_cast<std::time_t>(time);
    std::tm local = {};
    if (static_cast<std::int64_t>(seconds) != time || ::localtime_r(&seconds, &local) == nullptr) {
        return "[invalid data]";
    }
    // The asctime form, written out here so that neither the locale nor a year past 9999 can bend it.
    if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) {
        return "[invalid asctime]";
    }
    char text[64] = {};
    const int written =
        std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", days[local.tm_wday], months[local.tm_mon],
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 1900 + local.tm_year);
    if (written != asctime_length) {
        return "[invalid asctime]";
    }
    return text;
}

void fill_adapter_tree(tree_node& parent, std::span<const adapter_info> adapters) {
    for (const adapter_info& adapter : adapters) {
        tree_node branch = leaf(adapter.description);
        branch.children.push_back(leaf(std::string("Type: ") + adapter_type_name(adapter.type)));
        branch.children.push_back(leaf("HW Addr: " + adapter_hw_address_text(adapter.hardware_address)));
        branch.children.push_back(leaf("OS Name: " + adapter.name));

        tree_node addresses = leaf("IP Addresses");
        for (const adapter_address& entry : adapter.ip_addresses) {
            addresses.children.push_back(leaf(entry.address + " - Mask: " + entry.mask));
        }
        if (addresses.children.empty()) {
            addresses.children.push_back(leaf(std::string(unassigned_address) + " - Mask: " + unassigned_address));
        }
        branch.children.push_back(std::move(addresses));
        if (!adapter.ipv6_addresses.empty()) {
            tree_node ipv6 = leaf("IPv6 Addresses");
            for (const adapter_ipv6_address& entry : adapter.ipv6_addresses) {
                ipv6.children.push_back(leaf(entry.address + " - Prefix: /" + std::to_string(entry.prefix_length) +
                                             " - " + ipv6_scope_name(entry.scope)));
            }
            branch.children.push_back(std::move(ipv6));
        }

        if (adapter.dhcp) {
            tree_node server = leaf("DHCP Server: " + adapter.dhcp->server);
            server.children.push_back(leaf("Lease Obtained: " + adapter_lease_text(adapter.dhcp->obtained)));
            server.children.push_back(leaf("Lease Expires: " + adapter_lease_text(adapter.dhcp->expires)));
            branch.children.push_back(std::move(server));
        }
        if (adapter.dns_servers) {
            tree_node dns = leaf("DNS Servers");
            for (const std::string& server : *adapter.dns_servers) {
                dns.children.push_back(leaf(server));
            }
            // The list's first entry is always there; without a server it is empty.
            if (dns.children.empty()) {
                dns.children.push_back(leaf(""));
            }
            branch.children.push_back(std::move(dns));
        }
        parent.children.push_back(std::move(branch));
    }
}

std::string tree_text(const std::vector<tree_node>& nodes, int indent) {
    std::string out;
    append_lines(out, nodes, 0, indent);
    return out;
}

} // namespace tiv
