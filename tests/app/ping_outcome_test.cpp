#include <cstring>
#include <gtest/gtest.h>

#include "app/internal/ping_outcome.h"
#include "presence/icmp_message.h"

namespace tiv {

namespace {
// A result the ping accepted, carrying the ICMP type of the message that answered it.
ping_result accepted(std::uint8_t icmp_type, std::int32_t round_trip) {
    ping_result result;
    result.status = PING_STATUS::replied;
    result.round_trip = round_trip;
    const std::uint8_t word[4] = {icmp_type, 0, 0, 0};
    std::memcpy(&result.icmp_word1, word, sizeof word);
    return result;
}
} // namespace

TEST(PingOutcome, OnlyAnEchoReplySucceedsNotARouterReportingTheRequestExpired) {
    const app::ping_reply echoed = app::ping_outcome(accepted(icmpv4.echo_reply, 7));
    EXPECT_TRUE(echoed.outcome.ok());
    EXPECT_EQ(echoed.round_trip, 7);

    const app::ping_reply expired = app::ping_outcome(accepted(icmpv4.time_exceeded, 7));
    EXPECT_EQ(expired.outcome.text(), "Ping failed! time-to-live exceeded.");
    EXPECT_EQ(expired.round_trip, -1);

    ping_result refused;
    refused.status = PING_STATUS::reply_other_type;
    EXPECT_FALSE(app::ping_outcome(refused).outcome.ok());
}

} // namespace tiv
