#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tiv {

// Interface type numbers, as the adapter tree names them.
enum class adapter_type : std::uint32_t {
    other = 1,
    ethernet = 6,
    token_ring = 9,
    fddi = 15,
    ppp = 23,
    loopback = 24,
    slip = 28,
    wireless = 71,
    tunnel = 131,
};

// Longest hardware address an adapter record holds.
inline constexpr std::size_t max_hardware_address_length = 8;

struct adapter_address {
    std::string address; // dotted text
    std::string mask;
};

// What reach an IPv6 address has, which tells a user which one a friend elsewhere could use.
enum class ipv6_scope { global, unique_local, link_local, loopback };

struct adapter_ipv6_address {
    std::string address; // a link-local one names its interface after a '%': "fe80::1%eth0"
    unsigned prefix_length = 0;
    ipv6_scope scope = ipv6_scope::global;
};

struct adapter_lease {
    std::string server;        // dotted text of the DHCP server
    std::int64_t obtained = 0; // seconds since 1 January 1970
    std::int64_t expires = 0;
};

// One network adapter as the options dialog describes it.
struct adapter_info {
    std::string description;
    std::string name; // the system's name of the interface
    std::uint32_t index = 0;
    adapter_type type = adapter_type::other;
    std::vector<std::uint8_t> hardware_address; // at most max_hardware_address_length bytes
    std::vector<adapter_address> ip_addresses;  // IPv4 only; empty when the adapter has none
    std::vector<adapter_ipv6_address> ipv6_addresses;
    std::optional<adapter_lease> dhcp; // present when the adapter holds a DHCP lease
    // Absent when the resolver configuration cannot be read (the branch then has no "DNS Servers" item).
    std::optional<std::vector<std::string>> dns_servers;
};

// One item of a tree control: built as data, so the options dialog's tree and the command line show the same.
struct tree_node {
    std::string text;
    std::vector<tree_node> children;

    bool operator==(const tree_node&) const = default;
};

[[nodiscard]] const char* adapter_type_name(adapter_type type);

// The scope of an address given as the 16 bytes of an in6_addr, and the words the adapter tree shows for it.
[[nodiscard]] ipv6_scope ipv6_scope_of(std::span<const std::uint8_t, 16> address);
[[nodiscard]] const char* ipv6_scope_name(ipv6_scope scope);

// The address's own bytes (eight at most) as colon-separated "%02x" pairs; "xx:xx:xx:xx:xx:xx:" for an empty
// address.
[[nodiscard]] std::string adapter_hw_address_text(std::span<const std::uint8_t> address);

// The time in local time, in the 24-character asctime form without its line feed.
[[nodiscard]] std::string adapter_lease_text(std::int64_t time);

// Appends one branch per adapter, in order, as the last children of `parent`.
void fill_adapter_tree(tree_node& parent, std::span<const adapter_info> adapters);

// The tree as text: one line per item, children indented by `indent` spaces more than their parent.
[[nodiscard]] std::string tree_text(const std::vector<tree_node>& nodes, int indent = 2);

// The machine's adapters from getifaddrs and /sys/class/net, in interface index order, with their addresses of both
// families, DHCP leases where the DHCP client's lease file can be read and the DNS servers (IPv4 and IPv6) of
// /etc/resolv.conf. Empty when the list cannot be had.
[[nodiscard]] std::vector<adapter_info> get_adapters_info();

// The interface type number for a kernel hardware type (ARPHRD_*); wireless Ethernet has a number of its own.
[[nodiscard]] adapter_type adapter_type_from_hardware_type(int hardware_type, bool wireless);

} // namespace tiv
