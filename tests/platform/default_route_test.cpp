#include <gtest/gtest.h>

#include "platform/adapter_default_route.h"
#include "platform/ipv6_reach.h"

namespace tiv {
namespace {

constexpr std::uint32_t ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

constexpr const char* header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(DefaultRoute, TheUpDefaultRouteWithTheLowestMetricNamesTheInterface) {
    const std::string table = std::string(header) + "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
                                                    "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                                                    "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                                                    "tun0\t00000000\t00000000\t0000\t0\t0\t1\t00000000\t0\t0\t0\n"
                                                    "bad\tzz\n";
    EXPECT_EQ(default_route_interface(table), "eth0") << "tun0's route is down; wlan0's costs more";
    EXPECT_EQ(
        default_route_interface(std::string(header) + "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"),
        std::nullopt);
    EXPECT_EQ(default_route_interface(""), std::nullopt);
}

TEST(DefaultRoute, FriendsReachTheDefaultInterfaceElseTheFirstUpNonLoopbackAddress) {
    const std::vector<interface_ipv4> addresses = {
        {"lo", ip(127, 0, 0, 1), true, true},
        {"docker0", ip(172, 17, 0, 1), false, false},
        {"eth1", ip(10, 0, 0, 5), true, false},
        {"eth0", ip(192, 168, 0, 20), true, false},
    };
    EXPECT_EQ(reachable_ipv4(std::string("eth0"), addresses), ip(192, 168, 0, 20));
    EXPECT_EQ(reachable_ipv4(std::nullopt, addresses), ip(10, 0, 0, 5)) << "docker0 is down";
    EXPECT_EQ(reachable_ipv4(std::string("lo"), addresses), ip(10, 0, 0, 5));
    EXPECT_EQ(reachable_ipv4(std::nullopt, {{"lo", ip(127, 0, 0, 1), true, true}}), std::nullopt);
}

TEST(DefaultRoute, OnlyALastingGlobalIPv6AddressIsOffered) {
    const std::string table = "00000000000000000000000000000001 01 80 10 80       lo\n"
                              "fe800000000000000000000000000001 02 40 20 80     eth0\n"
                              "fd000000000000000000000000000005 02 40 00 00     eth0\n"
                              "20010db8000000000000000000000007 02 40 00 01     eth0\n" // temporary
                              "20010db8000000000000000000000008 02 40 00 20     eth0\n" // deprecated
                              "20010db8000000000000000000000009 02 40 00 40     eth0\n" // tentative
                              "20010db80000000000000000000000aa 03 40 00 80    wlan0\n"
                              "20010db8000000000000000000000005 02 40 00 80     eth0\n";
    EXPECT_EQ(lasting_global_ipv6(table, std::string("eth0")), "2001:db8::5");
    EXPECT_EQ(lasting_global_ipv6(table, std::nullopt), "2001:db8::aa");
    EXPECT_EQ(lasting_global_ipv6(table.substr(0, table.find("2001")), std::nullopt), std::nullopt);
}

} // namespace
} // namespace tiv
