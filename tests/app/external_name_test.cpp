#include <gtest/gtest.h>

#include "app/settings/external_name.h"

namespace tiv {
namespace {

constexpr std::uint32_t route = 0xC0000202; // 192.0.2.2

TEST(ExternalName, FollowsTheListeningAddressAndNeverExportsLoopbackInPlaceOfAny) {
    const app::machine_reach routed{route, "host.example", 0xC0000207, {}};
    EXPECT_EQ(app::following_external_name("192.0.2.9", routed), "192.0.2.9") << "a specific address";
    EXPECT_EQ(app::following_external_name("127.0.0.1", routed), "127.0.0.1") << "loopback was chosen";
    EXPECT_EQ(app::following_external_name("0.0.0.0", routed), "192.0.2.2") << "any: the default route's address";

    const app::machine_reach unrouted{std::nullopt, "host.example", 0xC0000207, {}};
    EXPECT_EQ(app::following_external_name("0.0.0.0", unrouted), "host.example") << "a name that resolves off here";
    const app::machine_reach alone{std::nullopt, "host.example", std::nullopt, {}};
    EXPECT_EQ(app::following_external_name("0.0.0.0", alone), std::nullopt) << "a name of 127.0.1.1 is loopback";

    const app::machine_reach dual{route, "host.example", std::nullopt, "2001:db8::5"};
    EXPECT_EQ(app::following_external_name("::", dual), "2001:db8::5") << "both families: the global IPv6 address";
    EXPECT_EQ(app::following_external_name("0.0.0.0", dual), "192.0.2.2");
    EXPECT_EQ(app::following_external_name("::", routed), "192.0.2.2") << "no global IPv6 address";
}

TEST(ExternalName, OnlyANameTheUserChoseStaysWhenTheAddressMoves) {
    const app::machine_reach reach{route, "host.example", std::nullopt, {}};
    EXPECT_TRUE(app::follows_listening_address("", "127.0.0.1", reach));
    EXPECT_TRUE(app::follows_listening_address("192.0.2.2", "192.0.2.2", reach));
    EXPECT_TRUE(app::follows_listening_address("192.0.2.2", "0.0.0.0", reach));
    EXPECT_TRUE(app::follows_listening_address("host.example", "192.0.2.2", reach)) << "an earlier set-up's default";
    EXPECT_FALSE(app::follows_listening_address("friends.example", "192.0.2.2", reach));
    EXPECT_FALSE(app::follows_listening_address("192.0.2.7", "192.0.2.2", reach));
}

} // namespace
} // namespace tiv
