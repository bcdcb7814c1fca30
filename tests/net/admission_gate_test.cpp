#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "net/socket/admission_gate.h"
#include "net/transfer/socket_thread.h"

namespace tiv {
namespace {

using namespace std::chrono_literals;

constexpr connection_source friend_address{.bits = 0x0100007F, .ipv6 = false}; // 127.0.0.1 as it travels
constexpr connection_source stranger_address{.bits = 0x0200007F, .ipv6 = false};

std::shared_ptr<socket_thread> connection() {
    return std::make_shared<socket_thread>();
}

std::chrono::steady_clock::time_point soon() {
    return std::chrono::steady_clock::now() + 50ms;
}

net_address address(const char* text) {
    net_address resolved;
    EXPECT_TRUE(resolve_address(text, 20000, resolved)) << text;
    return resolved;
}

TEST(AdmissionGate, AnIpv6SourceIsItsSlash64AndAMappedIpv4PeerItsIpv4Address) {
    EXPECT_EQ(source_of(address("2001:db8:1:2::5")), source_of(address("2001:db8:1:2:ffff::9")));
    EXPECT_NE(source_of(address("2001:db8:1:2::5")), source_of(address("2001:db8:1:3::5")));
    EXPECT_EQ(source_of(address("::ffff:127.0.0.2")), source_of(address("127.0.0.2")));
    EXPECT_EQ(source_of(address("127.0.0.1")), friend_address);
}

TEST(AdmissionGate, ASourcesBurstWaitsItsTurnInOrderWithinItsBounds) {
    admission_gate::limits bounds;
    bounds.per_source = 2;
    bounds.queued_per_source = 2;
    admission_gate gate(bounds);
    std::vector<std::shared_ptr<socket_thread>> burst;
    for (int i = 0; i < 4; ++i) {
        burst.push_back(connection());
        EXPECT_TRUE(gate.admit(friend_address, burst.back()).admitted) << i;
    }
    EXPECT_EQ(gate.in_phase(), 2U);
    EXPECT_EQ(gate.queued(), 2U);
    EXPECT_FALSE(gate.admit(friend_address, connection()).admitted) << "beyond the source's queue";
    EXPECT_TRUE(gate.admit(stranger_address, connection()).admitted) << "another source has room of its own";

    EXPECT_TRUE(gate.wait_for_turn(burst[0].get(), soon()));
    EXPECT_FALSE(gate.wait_for_turn(burst[3].get(), soon())) << "not its turn: it gives up at its deadline";
    EXPECT_TRUE(gate.leave(burst[0].get()));
    EXPECT_TRUE(gate.wait_for_turn(burst[2].get(), soon())) << "the oldest waiting one takes the freed turn";
    EXPECT_FALSE(gate.leave(burst[3].get())) << "one that gave up is no longer counted";
    gate.close();
    EXPECT_FALSE(gate.wait_for_turn(burst[1].get(), soon()));
}

TEST(AdmissionGate, AtTheCapANewSourceTakesTheOldestPlaceOfTheBusiestAndOthersAreDropped) {
    admission_gate::limits bounds;
    bounds.per_source = 8;
    bounds.early_drop_start = 3;
    bounds.full = 4;
    admission_gate gate(bounds);
    std::vector<std::shared_ptr<socket_thread>> strangers;
    strangers.push_back(connection());
    ASSERT_TRUE(gate.admit(stranger_address, strangers.back()).admitted);
    for (std::uint32_t i = 1; i < 4; ++i) { // below the drop threshold, then from new addresses
        strangers.push_back(connection());
        ASSERT_TRUE(gate.admit(i < 3 ? stranger_address : connection_source{.bits = stranger_address.bits + (i << 24)},
                               strangers.back())
                        .admitted)
            << i;
    }
    EXPECT_FALSE(gate.admit(stranger_address, connection()).admitted) << "a held source is dropped at the cap";

    const admission_gate::admission heard = gate.admit(friend_address, connection());
    EXPECT_TRUE(heard.admitted) << "an address with nothing in the phase is always heard";
    EXPECT_EQ(heard.evicted, strangers.front()) << "the oldest of the address holding the most makes room";
    EXPECT_EQ(gate.in_phase(), 4U);
    EXPECT_FALSE(gate.leave(strangers.front().get()));
}

} // namespace
} // namespace tiv
