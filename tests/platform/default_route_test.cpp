#include <gtest/gtest.h>

#include "platform/adapter_default_route.h"

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

} // namespace
} // namespace tiv
