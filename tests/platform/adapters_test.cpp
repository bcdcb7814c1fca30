#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <limits>
#include <net/if_arp.h>

#include "net/loopback.h"
#include "platform/adapter_sources.h"
#include "platform/adapters.h"

namespace tiv {
namespace {

tree_node leaf(std::string text) {
    return {std::move(text), {}};
}

// Lease times are shown in local time; these tests pin the zone to UTC and put the caller's back afterwards.
class AdapterTree : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ")) {
            m_strZone = zone;
            m_bHadZone = true;
        }
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        if (m_bHadZone) {
            ::setenv("TZ", m_strZone.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::string m_strZone;
    bool m_bHadZone = false;
};

adapter_info loopback_only() {
    adapter_info lo;
    lo.description = "lo (virtual)";
    lo.name = "lo";
    lo.type = adapter_type::loopback;
    lo.hardware_address.assign(6, 0);
    lo.ip_addresses = {{"127.0.0.1", "255.0.0.0"}};
    return lo;
}

TEST_F(AdapterTree, LoopbackWithoutDhcpGivesOneBranchWithoutServerItems) {
    tree_node root;
    const adapter_info adapters[] = {loopback_only()};
    fill_adapter_tree(root, adapters);
    const tree_node expected = {"lo (virtual)",
                                {leaf("Type: LOOPBACK"),
                                 leaf("HW Addr: 00:00:00:00:00:00"),
                                 leaf("OS Name: lo"),
                                 {"IP Addresses", {leaf("127.0.0.1 - Mask: 255.0.0.0")}}}};
    ASSERT_EQ(root.children.size(), 1U);
    EXPECT_TRUE(root.children[0] == expected) << tree_text(root.children);
}

TEST_F(AdapterTree, FullAdapterListsEveryItemInOrder) {
    adapter_info eth;
    eth.description = "eth0 (e1000e)";
    eth.name = "eth0";
    eth.type = adapter_type::ethernet;
    eth.hardware_address = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    eth.ip_addresses = {{"192.168.1.10", "255.255.255.0"}, {"10.0.0.5", "255.0.0.0"}};
    eth.ipv6_addresses = {{"2001:db8::10", 64, ipv6_scope::global},
                          {"fd00::10", 64, ipv6_scope::unique_local},
                          {"fe80::21a:2bff:fe3c:4d5e%eth0", 64, ipv6_scope::link_local}};
    eth.dhcp = adapter_lease{"192.168.1.1", 0, 1700000000};
    eth.dns_servers = std::vector<std::string>{"192.168.1.1", "fe80::1%eth0"};
    tree_node root = leaf("existing");
    root.children.push_back(leaf("first child"));
    fill_adapter_tree(root, std::span(&eth, 1));

    EXPECT_EQ(tree_text(root.children), "first child\n"
                                        "eth0 (e1000e)\n"
                                        "  Type: ETHERNET\n"
                                        "  HW Addr: 00:1a:2b:3c:4d:5e\n"
                                        "  OS Name: eth0\n"
                                        "  IP Addresses\n"
                                        "    192.168.1.10 - Mask: 255.255.255.0\n"
                                        "    10.0.0.5 - Mask: 255.0.0.0\n"
                                        "  IPv6 Addresses\n"
                                        "    2001:db8::10 - Prefix: /64 - global\n"
                                        "    fd00::10 - Prefix: /64 - unique local\n"
                                        "    fe80::21a:2bff:fe3c:4d5e%eth0 - Prefix: /64 - link-local\n"
                                        "  DHCP Server: 192.168.1.1\n"
                                        "    Lease Obtained: Thu Jan  1 00:00:00 1970\n"
                                        "    Lease Expires: Tue Nov 14 22:13:20 2023\n"
                                        "  DNS Servers\n"
                                        "    192.168.1.1\n"
                                        "    fe80::1%eth0\n");
}

TEST_F(AdapterTree, MissingDataKeepsTheFirstListEntries) {
    adapter_info bare;
    bare.description = "wlan0 (iwlwifi)";
    bare.name = "wlan0";
    bare.type = adapter_type::wireless;
    bare.dns_servers = std::vector<std::string>{};
    tree_node root;
    fill_adapter_tree(root, std::span(&bare, 1));
    EXPECT_EQ(tree_text(root.children, 1), "wlan0 (iwlwifi)\n"
                                           " Type: [unknown interface type]\n"
                                           " HW Addr: xx:xx:xx:xx:xx:xx:\n"
                                           " OS Name: wlan0\n"
                                           " IP Addresses\n"
                                           "  0.0.0.0 - Mask: 0.0.0.0\n"
                                           " DNS Servers\n"
                                           "  \n");
    tree_node none;
    fill_adapter_tree(none, {});
    EXPECT_TRUE(none.children.empty());
}

TEST_F(AdapterTree, TextsOfSingleFields) {
    EXPECT_STREQ(adapter_type_name(static_cast<adapter_type>(9)), "TOKENRING");
    EXPECT_STREQ(adapter_type_name(static_cast<adapter_type>(15)), "FDDI");
    EXPECT_STREQ(adapter_type_name(static_cast<adapter_type>(23)), "PPP");
    EXPECT_STREQ(adapter_type_name(static_cast<adapter_type>(28)), "SLIP");
    EXPECT_STREQ(adapter_type_name(static_cast<adapter_type>(71)), "[unknown interface type]");
    EXPECT_STREQ(adapter_type_name(static_cast<adapter_type>(0)), "[unknown interface type]");

    const std::vector<std::uint8_t> long_address = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(adapter_hw_address_text(long_address), "01:02:03:04:05:06:07:08") << "eight bytes at most";
    EXPECT_EQ(adapter_hw_address_text(std::vector<std::uint8_t>{0xab}), "ab");
    EXPECT_EQ(adapter_hw_address_text(std::vector<std::uint8_t>{0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}), "00:1a:2b:3c:4d:5e")
        << "a MAC shows its six bytes, not eight";

    const auto scope = [](const char* text) {
        std::array<std::uint8_t, 16> bytes{};
        EXPECT_EQ(::inet_pton(AF_INET6, text, bytes.data()), 1) << text;
        return ipv6_scope_of(bytes);
    };
    EXPECT_EQ(scope("::1"), ipv6_scope::loopback);
    EXPECT_EQ(scope("fe80::1"), ipv6_scope::link_local);
    EXPECT_EQ(scope("febf:ffff::1"), ipv6_scope::link_local) << "fe80::/10 reaches to febf";
    EXPECT_EQ(scope("fec0::1"), ipv6_scope::global);
    EXPECT_EQ(scope("fc00::1"), ipv6_scope::unique_local);
    EXPECT_EQ(scope("fdff::1"), ipv6_scope::unique_local);
    EXPECT_EQ(scope("fbff::1"), ipv6_scope::global);
    EXPECT_EQ(scope("2001:db8::1"), ipv6_scope::global);
    EXPECT_EQ(scope("::2"), ipv6_scope::global);

    EXPECT_EQ(adapter_lease_text(86400 * 5 + 3600), "Tue Jan  6 01:00:00 1970");
    EXPECT_EQ(adapter_lease_text(253402300800), "[invalid asctime]") << "year 10000 does not fit the form";
    EXPECT_EQ(adapter_lease_text(std::numeric_limits<std::int64_t>::max()), "[invalid data]");
}

TEST(AdapterTypes, KernelHardwareTypesMapToInterfaceTypes) {
    EXPECT_EQ(adapter_type_from_hardware_type(ARPHRD_ETHER, false), adapter_type::ethernet);
    EXPECT_EQ(adapter_type_from_hardware_type(ARPHRD_ETHER, true), adapter_type::wireless);
    EXPECT_EQ(adapter_type_from_hardware_type(ARPHRD_LOOPBACK, false), adapter_type::loopback);
    EXPECT_EQ(adapter_type_from_hardware_type(ARPHRD_PPP, false), adapter_type::ppp);
    EXPECT_EQ(adapter_type_from_hardware_type(ARPHRD_IEEE802_TR, false), adapter_type::token_ring);
    EXPECT_EQ(adapter_type_from_hardware_type(ARPHRD_FDDI, false), adapter_type::fddi);
    EXPECT_EQ(adapter_type_from_hardware_type(ARPHRD_CSLIP, false), adapter_type::slip);
    EXPECT_EQ(adapter_type_from_hardware_type(ARPHRD_NONE, false), adapter_type::tunnel);
    EXPECT_EQ(adapter_type_from_hardware_type(-1, false), adapter_type::other);
}

TEST(LeaseFiles, DhclientLeasesInBothTimeForms) {
    const std::string text = "# The format of this file is documented in the dhclient.leases(5) manual page.\n"
                             "lease {\n"
                             "  interface \"eth0\";\n"
                             "  fixed-address 192.168.1.10;\n"
                             "  option subnet-mask 255.255.255.0;\n"
                             "  option dhcp-lease-time 3600;\n"
                             "  option domain-name \"example.org\";\n"
                             "  option dhcp-server-identifier 192.168.1.1;\n"
                             "  renew 2 2023/01/10 17:30:00;\n"
                             "  expire 2 2023/01/10 18:00:00;\n"
                             "}\n"
                             "lease {\n"
                             "  interface \"wlan0\";\n"
                             "  option dhcp-server-identifier 10.0.0.1;\n"
                             "  option dhcp-lease-time 600;\n"
                             "  expire epoch 1673373600; # Tue Jan 10 18:00:00 2023\n"
                             "}\n";
    const std::vector<interface_lease> leases = parse_dhclient_leases(text);
    ASSERT_EQ(leases.size(), 2U);
    EXPECT_EQ(leases[0].interface, "eth0");
    EXPECT_EQ(leases[0].lease.server, "192.168.1.1");
    EXPECT_EQ(leases[0].lease.expires, 1673373600);
    EXPECT_EQ(leases[0].lease.obtained, 1673373600 - 3600);
    EXPECT_EQ(leases[1].interface, "wlan0");
    EXPECT_EQ(leases[1].lease.obtained, 1673373600 - 600);
}

TEST(LeaseFiles, MalformedDhclientLeasesArePassedOver) {
    const std::string complete = "lease { interface \"eth1\"; option dhcp-server-identifier 10.1.1.1; "
                                 "option dhcp-lease-time 60; expire epoch 1000; }\n";
    const std::string broken[] = {
        "lease { interface \"eth1\"; option dhcp-server-identifier 10.1.1.1; option dhcp-lease-time 60; "
        "expire 2 2023/13/10 18:00:00; }",                                             // month 13
        "lease { interface \"eth1\"; option dhcp-lease-time 60; expire epoch 1000; }", // no server
        "lease { interface \"eth1\"; option dhcp-server-identifier 10.1.1.300; "
        "option dhcp-lease-time 60; expire epoch 1000; }", // bad address
        "lease { interface \"an-interface-name-too-long\"; option dhcp-server-identifier 10.1.1.1; "
        "option dhcp-lease-time 60; expire epoch 1000; }", // name too long
        "lease { interface \"eth1\"; option dhcp-server-identifier 10.1.1.1; "
        "option dhcp-lease-time 6000; expire epoch 1000; }", // obtained before 1970
        "lease { interface \"eth1\"; option dhcp-server-identifier 10.1.1.1; "
        "option dhcp-lease-time 60; expire 2 2023/01/10 18:00; }", // short time
        "lease { interface \"eth1\"; option dhcp-server-identifier 10.1.1.1; option dhcp-lease-time 60; expire epoch "
        "1000;", // cut off
        "lease { interface \"eth1; option dhcp-server-identifier 10.1.1.1; option dhcp-lease-time 60; expire epoch",
        "host { interface \"eth1\"; option dhcp-server-identifier 10.1.1.1; option dhcp-lease-time 60; expire epoch "
        "1000; }",
    };
    for (const std::string& text : broken) {
        EXPECT_TRUE(parse_dhclient_leases(text).empty()) << text;
        const std::vector<interface_lease> after = parse_dhclient_leases(text + "\n" + complete);
        ASSERT_EQ(after.size(), 1U) << "a broken lease does not spoil the next: " << text;
        EXPECT_EQ(after[0].lease.server, "10.1.1.1");
        for (std::size_t cut = 0; cut < text.size(); cut += 7) {
            EXPECT_TRUE(parse_dhclient_leases(text.substr(0, cut)).empty());
        }
    }
}

TEST(LeaseFiles, NetworkdLeaseTakesItsTimesFromTheFile) {
    const std::string text = "# This is private data. Do not parse.\nADDRESS=192.168.1.10\nNETMASK=255.255.255.0\n"
                             "SERVER_ADDRESS=192.168.1.1\nT1=1800\nLIFETIME=3600";
    const auto lease = parse_networkd_lease(text, 1700000000);
    ASSERT_TRUE(lease.has_value());
    EXPECT_EQ(lease->server, "192.168.1.1");
    EXPECT_EQ(lease->obtained, 1700000000);
    EXPECT_EQ(lease->expires, 1700003600);

    EXPECT_FALSE(parse_networkd_lease("SERVER_ADDRESS=192.168.1.1\n", 0)) << "no lifetime";
    EXPECT_FALSE(parse_networkd_lease("SERVER_ADDRESS=192.168.1.1\nLIFETIME=12x\n", 0));
    EXPECT_FALSE(parse_networkd_lease("SERVER_ADDRESS=192.168.1.1\nLIFETIME=99999999999\n", 0)) << "beyond 32 bits";
    EXPECT_FALSE(parse_networkd_lease("SERVER_ADDRESS=192.168.1\nLIFETIME=60\n", 0));
    EXPECT_FALSE(parse_networkd_lease("SERVER_ADDRESS\nLIFETIME=\n", 0));
    EXPECT_FALSE(parse_networkd_lease("", 0));
}

TEST(ResolverConfiguration, NameServersAsTheResolverUsesThem) {
    const std::string text = "# generated\n"
                             "; also a comment\n"
                             "search example.org\n"
                             "nameserver\n"
                             "nameserver 300.1.1.1\n"
                             "nameserver 192.0.2.53 # primary\n"
                             "options edns0\n"
                             "  nameserver\t fe80::1%eth0\n"
                             "nameserver 10.0.0.1 extra\n"
                             "nameserver 2001:db8::53\n"
                             "nameserver 198.51.100.53\n";
    EXPECT_EQ(parse_resolv_conf(text), (std::vector<std::string>{"192.0.2.53", "fe80::1%eth0", "2001:db8::53"}));
    EXPECT_EQ(parse_resolv_conf("nameserver 192.0.2.1"), std::vector<std::string>{"192.0.2.1"}) << "no final newline";
    EXPECT_TRUE(parse_resolv_conf("nameserver 192.0.2.").empty());
    EXPECT_TRUE(parse_resolv_conf(std::string(100, ' ') + "nameserver " + std::string(300, '1')).empty());
}

TEST(MachineAdapters, LoopbackShowsUpWithItsTexts) {
    const std::vector<adapter_info> adapters = get_adapters_info();
    const auto lo =
        std::find_if(adapters.begin(), adapters.end(), [](const adapter_info& a) { return a.name == "lo"; });
    ASSERT_NE(lo, adapters.end()) << "every Linux machine has the loopback interface";
    EXPECT_EQ(lo->type, adapter_type::loopback);
    EXPECT_GT(lo->index, 0U);
    EXPECT_FALSE(lo->dhcp.has_value());
    EXPECT_NE(std::find_if(lo->ip_addresses.begin(), lo->ip_addresses.end(),
                           [](const adapter_address& a) { return a.address == "127.0.0.1" && a.mask == "255.0.0.0"; }),
              lo->ip_addresses.end());
    EXPECT_TRUE(std::is_sorted(adapters.begin(), adapters.end(),
                               [](const adapter_info& a, const adapter_info& b) { return a.index < b.index; }));

    tree_node root;
    fill_adapter_tree(root, std::span(&*lo, 1));
    ASSERT_EQ(root.children.size(), 1U);
    const std::vector<tree_node>& items = root.children[0].children;
    ASSERT_GE(items.size(), 4U);
    EXPECT_EQ(items[0].text, "Type: LOOPBACK");
    EXPECT_EQ(items[1].text, "HW Addr: 00:00:00:00:00:00") << "the kernel gives loopback six bytes";
    EXPECT_EQ(items[2].text, "OS Name: lo");
    EXPECT_EQ(items[3].text, "IP Addresses");
}

TEST(MachineAdapters, LoopbackListsItsIPv6Address) {
    SKIP_WITHOUT_IPV6();
    const std::vector<adapter_info> adapters = get_adapters_info();
    const auto lo =
        std::find_if(adapters.begin(), adapters.end(), [](const adapter_info& a) { return a.name == "lo"; });
    ASSERT_NE(lo, adapters.end());
    tree_node root;
    fill_adapter_tree(root, std::span(&*lo, 1));
    EXPECT_NE(tree_text(root.children).find("\n  IPv6 Addresses\n    ::1 - Prefix: /128 - loopback\n"),
              std::string::npos)
        << tree_text(root.children);
    // A link-local address anywhere names the interface that holds it.
    for (const adapter_info& adapter : adapters) {
        for (const adapter_ipv6_address& address : adapter.ipv6_addresses) {
            if (address.scope == ipv6_scope::link_local) {
                EXPECT_TRUE(address.address.ends_with("%" + adapter.name)) << address.address;
            }
        }
    }
}

} // namespace
} // namespace tiv
