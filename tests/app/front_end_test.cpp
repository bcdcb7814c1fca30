#include <gtest/gtest.h>
#include <regex>
#include <thread>

#include "app/events.h"
#include "app/questions.h"
#include "log/activity_log.h"
#include "platform/message_box.h"
#include "support/scripted_questions.h"

namespace tiv {
namespace {

TEST(QuestionRouting, TheFrontEndIsAskedAndWorkersOnlyNotify) {
    test::scripted_questions answers;
    test::recorded_events events;
    {
        const app::question_routing routing(answers, events);
        answers.answer_next(IDCANCEL);
        EXPECT_EQ(show_message_box("Really quit?", "Quorvel", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);

        int worker_answer = 0;
        std::thread worker([&] { worker_answer = show_message_box("No common key caps", "Error", MB_ICONERROR); });
        worker.join();
        EXPECT_EQ(worker_answer, IDOK) << "a worker never waits for a click";
    }
    ASSERT_EQ(answers.questions_asked().size(), 1U);
    EXPECT_EQ(answers.questions_asked()[0].caption, "Quorvel");
    ASSERT_EQ(events.notices().size(), 1U);
    EXPECT_EQ(events.notices()[0].text, "No common key caps");
    EXPECT_EQ(events.notices()[0].style, static_cast<unsigned>(MB_ICONERROR));
}

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
