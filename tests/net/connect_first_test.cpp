#include <gtest/gtest.h>
#include <vector>

#include "loopback.h"
#include "net/socket/connect_first.h"

namespace tiv {
namespace {

// A listener whose queue is full: the kernel drops further connection requests, so a connect to it hangs as one to
// an address that does not answer would.
struct full_listener {
    full_listener() {
        net_address local;
        EXPECT_TRUE(resolve_address("127.0.0.1", 0, local));
        EXPECT_TRUE(open_tcp_socket(listener));
        EXPECT_TRUE(bind_socket(listener, local));
        EXPECT_EQ(::listen(listener.handle, 0), 0);
        // A backlog of 0 still queues one connection; the second one fills the queue whatever the kernel rounds.
        for (net_socket& filler : fillers) {
            EXPECT_TRUE(open_tcp_socket(filler));
            (void)set_send_timeout(filler, 200);
            (void)connect_socket(filler, listener.address);
        }
    }
    net_socket listener;
    net_socket fillers[2];
};

TEST(ConnectFirst, AnAddressThatDoesNotAnswerIsPassedAfterTheAttemptDelayAndARefusingOneAtOnce) {
    full_listener silent;
    net_socket refusing;
    ASSERT_NO_FATAL_FAILURE(test::open_listener(refusing));
    net_address refused = refusing.address;
    close_socket(refusing); // its port now refuses
    net_socket serving;
    ASSERT_NO_FATAL_FAILURE(test::open_listener(serving));

    net_socket connected;
    std::size_t winner = 99;
    const std::vector<net_address> candidates{silent.listener.address, refused, serving.address};
    const sys_status outcome = connect_first(connected, candidates, 5000, winner);
    ASSERT_TRUE(outcome) << outcome.text();
    EXPECT_EQ(winner, 2U);
    EXPECT_GE(connected.handle, 0);

    std::size_t none = 99;
    const std::vector<net_address> dead{silent.listener.address, refused};
    const sys_status failed = connect_first(connected, dead, 400, none);
    EXPECT_EQ(failed.code(), ETIMEDOUT) << failed.text() << ": the silent one outlasts the time-out";
    EXPECT_EQ(none, 99U);
    const std::vector<net_address> only_refused{refused};
    EXPECT_EQ(connect_first(connected, only_refused, 400, none).code(), ECONNREFUSED);
}

} // namespace
} // namespace tiv
