#include <gtest/gtest.h>

#include "app/internal/lan/lan_announcement.h"

namespace tiv::app {
namespace {

// A listener on loopback stays unannounced: nobody on the LAN could reach it, and the tests' listeners are there.
TEST(LanAnnouncement, OnlyListenersReachableFromTheLanAreAnnounced) {
    for (const char* loopback : {"127.0.0.1", "127.3.2.1", "::1", "::ffff:127.0.0.1"}) {
        net_address address;
        ASSERT_TRUE(resolve_address(loopback, 20000, address)) << loopback;
        EXPECT_TRUE(is_loopback(address)) << loopback;
    }
    for (const char* reachable : {"10.77.1.2", "0.0.0.0", "::", "fe80::1%1", "::ffff:192.168.1.23"}) {
        net_address address;
        ASSERT_TRUE(resolve_address(reachable, 20000, address)) << reachable;
        EXPECT_FALSE(is_loopback(address)) << reachable;
    }
}

} // namespace
} // namespace tiv::app
