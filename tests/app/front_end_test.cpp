#include <gtest/gtest.h>
#include <regex>
#include <thread>

#include "app/events.h"
#include "log/activity_log.h"
#include "support/scripted_questions.h"

namespace tiv {
namespace {

TEST(LogLines, ReachTheSinkWithTheTransferTheyConcern) {
    test::recorded_events events;
    {
        const app::log_forwarding forwarding(events);
        std::thread transfer([] {
            const transfer_log_scope scope(12);
            log_activity("S: sending [%s]", "parcel.txt");
        });
        transfer.join();
        log_activity("listening");
    }
    log_activity("after the sink has gone");
    const std::vector<app::log_event> lines = events.lines();
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0].transfer_id, 12U);
    EXPECT_EQ(lines[0].text, "S: sending [parcel.txt]");
    EXPECT_EQ(lines[1].transfer_id, 0U);
}

TEST(LogLines, PrintWithTheirTimeAndTheTransferTheyConcern) {
    const auto now = std::chrono::system_clock::now();
    const std::string with_id = app::format_log_line({now, 12, "R: SUCCEEDED"});
    EXPECT_TRUE(std::regex_match(with_id, std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d \[#12\] R: SUCCEEDED)"))) << with_id;
    const std::string without = app::format_log_line({now, 0, "listening"});
    EXPECT_TRUE(std::regex_match(without, std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d listening)"))) << without;
}

} // namespace
} // namespace tiv
