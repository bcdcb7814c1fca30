#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <charconv>
#include <climits>
#include <dirent.h>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/adapter_sources.h"
#include "platform/adapters.h"

namespace tiv {

namespace {

constexpr std::size_t small_file_limit = 4096;
constexpr std::size_t lease_file_limit = 1024 * 1024;
constexpr const char* sys_net = "/sys/class/net/";
constexpr const char* resolver_configuration = "/etc/resolv.conf";
constexpr const char* networkd_leases = "/run/systemd/netif/leases/";
constexpr const char* dhclient_directories[] = {"/var/lib/dhcp/", "/var/lib/dhclient/"};

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

int hardware_type_of(const std::string& name) {
    const auto text = read_small_file(sys_net + name + "/type", small_file_limit);
    if (!text) {
        return -1;
    }
    std::string_view digits(*text);
    digits = digits.substr(0, digits.find('\n'));
    int type = -1;
    const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), type);
    return error == std::errc{} && stop == digits.data() + digits.size() ? type : -1;
}

// The driver that serves the interface's device, or the kind of virtual interface.
std::string description_of(const std::string& name) {
    char target[PATH_MAX] = {};
    const ssize_t length = ::readlink((sys_net + name + "/device/driver").c_str(), target, sizeof target - 1);
    if (length > 0) {
        const std::string_view link(target, static_cast<std::size_t>(length));
        return name + " (" + std::string(link.substr(link.rfind('/') + 1)) + ")";
    }
    return name + " (virtual)";
}

std::string address_text(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    if (address == nullptr || address->sa_family != AF_INET ||
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text) == nullptr) {
        return "0.0.0.0";
    }
    return text;
}

unsigned prefix_length_of(const sockaddr* mask) {
    if (mask == nullptr || mask->sa_family != AF_INET6) {
        return 0;
    }
    unsigned length = 0;
    for (const std::uint8_t byte : reinterpret_cast<const sockaddr_in6*>(mask)->sin6_addr.s6_addr) {
        length += static_cast<unsigned>(std::popcount(byte));
    }
    return length;
}

// A link-local address is ambiguous without its interface, so its text carries the interface's name after a '%',
// as a user would type it to reach that address.
std::optional<adapter_ipv6_address> ipv6_entry(const ifaddrs& entry, const std::string& interface_name) {
    const auto* address = reinterpret_cast<const sockaddr_in6*>(entry.ifa_addr);
    char text[INET6_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text) == nullptr) {
        return std::nullopt;
    }
    const ipv6_scope scope = ipv6_scope_of(std::span<const std::uint8_t, 16>(address->sin6_addr.s6_addr));
    std::string shown = text;
    if (scope == ipv6_scope::link_local) {
        shown += "%" + interface_name;
    }
    return adapter_ipv6_address{std::move(shown), prefix_length_of(entry.ifa_netmask), scope};
}

// Entries named "eth0:1" are further addresses of eth0.
std::string base_name(const char* label) {
    const std::string_view name(label);
    return std::string(name.substr(0, name.find(':')));
}

adapter_info& adapter_named(std::vector<adapter_info>& adapters, const std::string& name) {
    const auto found =
        std::find_if(adapters.begin(), adapters.end(), [&name](const adapter_info& a) { return a.name == name; });
    if (found != adapters.end()) {
        return *found;
    }
    adapter_info& fresh = adapters.emplace_back();
    fresh.name = name;
    fresh.index = ::if_nametoindex(name.c_str());
    fresh.description = description_of(name);
    fresh.type = adapter_type_from_hardware_type(hardware_type_of(name), exists(sys_net + name + "/wireless"));
    return fresh;
}

std::vector<std::string> files_in(const std::string& directory) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(directory.c_str()), ::closedir);
    if (listing == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool is_dhclient_lease_file(std::string_view name) {
    return name.starts_with("dhclient") && (name.ends_with(".leases") || name.ends_with(".lease"));
}

// The newest lease of every interface that has one.
void add_leases(std::vector<adapter_info>& adapters) {
    for (const char* directory : dhclient_directories) {
        for (const std::string& name : files_in(directory)) {
            if (!is_dhclient_lease_file(name)) {
                continue;
            }
            const auto text = read_small_file(directory + name, lease_file_limit);
            for (const interface_lease& found : text ? parse_dhclient_leases(*text) : std::vector<interface_lease>{}) {
                for (adapter_info& adapter : adapters) {
                    if (adapter.name == found.interface &&
                        (!adapter.dhcp || adapter.dhcp->expires <= found.lease.expires)) {
                        adapter.dhcp = found.lease;
                    }
                }
            }
        }
    }
    for (adapter_info& adapter : adapters) {
        const std::string path = networkd_leases + std::to_string(adapter.index);
        struct stat info {};
        if (adapter.dhcp || ::stat(path.c_str(), &info) != 0) {
            continue;
        }
        if (const auto text = read_small_file(path, small_file_limit)) {
            adapter.dhcp = parse_networkd_lease(*text, static_cast<std::int64_t>(info.st_mtime));
        }
    }
}

} // namespace

adapter_type adapter_type_from_hardware_type(int hardware_type, bool wireless) {
    switch (hardware_type) {
    case ARPHRD_ETHER:
        return wireless ? adapter_type::wireless : adapter_type::ethernet;
    case ARPHRD_IEEE802:
    case ARPHRD_IEEE802_TR:
        return adapter_type::token_ring;
    case ARPHRD_FDDI:
        return adapter_type::fddi;
    case ARPHRD_PPP:
        return adapter_type::ppp;
    case ARPHRD_LOOPBACK:
        return adapter_type::loopback;
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
    case ARPHRD_SLIP6:
    case ARPHRD_CSLIP6:
        return adapter_type::slip;
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_NONE:
        return adapter_type::tunnel;
    default:
        return adapter_type::other;
    }
}

std::vector<adapter_info> get_adapters_info() {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        return {};
    }
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> list(raw, ::freeifaddrs);
    std::vector<adapter_info> adapters;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr || entry->ifa_addr == nullptr) {
            continue;
        }
        if (entry->ifa_addr->sa_family == AF_PACKET) {
            adapter_info& adapter = adapter_named(adapters, base_name(entry->ifa_name));
            const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
            const std::size_t length =
                std::min<std::size_t>({link->sll_halen, sizeof link->sll_addr, max_hardware_address_length});
            adapter.hardware_address.assign(link->sll_addr, link->sll_addr + length);
        } else if (entry->ifa_addr->sa_family == AF_INET) {
            adapter_info& adapter = adapter_named(adapters, base_name(entry->ifa_name));
            adapter.ip_addresses.push_back({address_text(entry->ifa_addr), address_text(entry->ifa_netmask)});
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            adapter_info& adapter = adapter_named(adapters, base_name(entry->ifa_name));
            if (auto address = ipv6_entry(*entry, adapter.name)) {
                adapter.ipv6_addresses.push_back(std::move(*address));
            }
        }
    }
    std::stable_sort(adapters.begin(), adapters.end(),
                     [](const adapter_info& a, const adapter_info& b) { return a.index < b.index; });

    add_leases(adapters);
    const auto resolver = read_small_file(resolver_configuration, lease_file_limit);
    for (adapter_info& adapter : adapters) {
        if (resolver) {
            adapter.dns_servers = parse_resolv_conf(*resolver);
        }
    }
    return adapters;
}

} // namespace tiv
