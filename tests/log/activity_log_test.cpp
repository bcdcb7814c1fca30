#include "log/activity_log.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "support/temp_home.h"

namespace tiv {
namespace {

const std::string rule(43, '=');

std::string read_file(const std::string& path) {
    std::ifstream oIn(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(oIn), std::istreambuf_iterator<char>());
}

// A log file line without its leading local time ("2026-12-07 22:51:38.123 "); fails the test when it has none.
std::string without_time_stamp(const std::string& strLine) {
    static const std::regex oStamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    std::smatch oMatch;
    if (!std::regex_search(strLine, oMatch, oStamp)) {
        ADD_FAILURE() << "log file line without its time: " << strLine;
        return strLine;
    }
    return strLine.substr(static_cast<std::size_t>(oMatch.length(0)));
}

// Splits text whose every line ends in CR LF; fails the test on a bare line feed or a missing end.
std::vector<std::string> split_crlf(const std::string& strText) {
    std::vector<std::string> aLines;
    std::size_t nStart = 0;
    while (nStart < strText.size()) {
        const std::size_t nEnd = strText.find("\r\n", nStart);
        if (nEnd == std::string::npos) {
            ADD_FAILURE() << "text does not end in CR LF: " << strText.substr(nStart);
            break;
        }
        aLines.push_back(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 2;
    }
    for (const std::string& strLine : aLines) {
        EXPECT_EQ(strLine.find('\n'), std::string::npos) << "bare line feed in: " << strLine;
    }
    return aLines;
}

// Checks one header block starting at aLines[nAt]: a rule, a non-empty date, a rule.
void expect_header(const std::vector<std::string>& aLines, std::size_t nAt) {
    ASSERT_LE(nAt + 3, aLines.size());
    EXPECT_EQ(aLines[nAt], rule);
    EXPECT_FALSE(aLines[nAt + 1].empty());
    EXPECT_NE(aLines[nAt + 1], rule);
    EXPECT_EQ(aLines[nAt + 2], rule);
}

// The process-wide log is shared by every test here, so each test marks where its own lines begin (the text
// may have been trimmed at its front since, so an offset would not do).
class activity_log_test : public test::home_test {
protected:
    void SetUp() override {
        static int nTest = 0;
        set_activity_logging(false);
        close_activity_log();
        const std::string strComment = "start of test " + std::to_string(++nTest);
        activity_console().add_comment(strComment);
        m_strMark = "==> " + strComment + "\r\n";
    }
    void TearDown() override {
        set_activity_logging(false);
        close_activity_log();
    }

    [[nodiscard]] std::string added_text() const {
        const std::string strText = activity_console().text();
        const std::size_t nMark = strText.rfind(m_strMark);
        EXPECT_NE(nMark, std::string::npos) << "the test's mark was trimmed away";
        return nMark == std::string::npos ? std::string() : strText.substr(nMark + m_strMark.size());
    }
    [[nodiscard]] std::string log_path() const { return m_oHome.path() + "/QVLLogfile.txt"; }
    // The file's lines after its single header block.
    [[nodiscard]] std::vector<std::string> file_lines_after_header() const {
        std::vector<std::string> aLines = split_crlf(read_file(log_path()));
        expect_header(aLines, 0);
        aLines.erase(aLines.begin(), aLines.begin() + std::min<std::size_t>(3, aLines.size()));
        for (std::string& strLine : aLines) {
            strLine = without_time_stamp(strLine);
        }
        return aLines;
    }

    std::string m_strMark;
};

TEST_F(activity_log_test, logging_off_stores_and_announces_nothing) {
    ASSERT_TRUE(open_activity_log(log_path()));
    const std::string strFileBefore = read_file(log_path());
    std::atomic<int> nCalls{0};
    const observer_token nToken = activity_console().add_observer([&](const log_line&) { ++nCalls; });

    log_activity("S: sending %s (%d bytes)", "report.txt", 42);
    log_activity_text("R: a line that is already text");

    EXPECT_EQ(added_text(), "");
    EXPECT_EQ(read_file(log_path()), strFileBefore);
    EXPECT_EQ(nCalls.load(), 0);
    activity_console().remove_observer(nToken);
}

// Every fixture leaves the switch off, so this holds whether the test runs alone or after others.
TEST(activity_logging_switch, is_off_at_start) {
    EXPECT_FALSE(is_activity_logging());
}

TEST_F(activity_log_test, toggling_twice_leaves_logging_off) {
    EXPECT_TRUE(toggle_activity_logging());
    EXPECT_TRUE(is_activity_logging());
    EXPECT_FALSE(toggle_activity_logging());
    EXPECT_FALSE(is_activity_logging());
}

TEST_F(activity_log_test, lines_are_the_callers_text_with_crlf) {
    set_activity_logging(true);
    log_activity("%x S: sent %.3f of %.1f", 0xbeefu, 1.5, 2.0);
    log_activity_text("outgoing_connection_handler -->peer[10.0.0.1]");
    EXPECT_EQ(added_text(), "beef S: sent 1.500 of 2.0\r\n"
                            "outgoing_connection_handler -->peer[10.0.0.1]\r\n");
}

// A peer chooses the names the lines quote: in the window, the file and a terminal they must neither act nor
// read as something else, and a line may never be forged by a line feed inside a name.
TEST_F(activity_log_test, lines_escape_controls_bidi_overrides_and_broken_utf8) {
    ASSERT_TRUE(open_activity_log(log_path()));
    set_activity_logging(true);
    log_activity("R: [%s]", "\x1b]0;owned\x07 bidi\u202etxt.exe \xff caf\xc3\xa9\r\n09:00 forged");
    const std::vector<std::string> aExpected = {
        "R: [\\x1b]0;owned\\x07 bidi\\u202etxt.exe \\xff caf\xc3\xa9\\x0d\\x0a09:00 forged]"};
    EXPECT_EQ(split_crlf(added_text()), aExpected);
    EXPECT_EQ(file_lines_after_header(), aExpected);
    // Escaping lengthens a line; the cut still keeps 511 bytes and never half a sequence.
    log_activity_text(std::string(509, 'e') + "\xc3\xa9");
    log_activity_text(std::string(510, 'e') + "\x01");
    EXPECT_EQ(file_lines_after_header()[1], std::string(509, 'e') + "\xc3\xa9");
    EXPECT_EQ(file_lines_after_header()[2], std::string(510, 'e') + "\\");
}

TEST_F(activity_log_test, without_a_file_lines_reach_the_console_only) {
    ASSERT_TRUE(open_activity_log(log_path()));
    close_activity_log();
    EXPECT_FALSE(activity_console().has_log());
    set_activity_logging(true);
    log_activity("R: received %d", 7);
    EXPECT_EQ(added_text(), "R: received 7\r\n");
    EXPECT_TRUE(file_lines_after_header().empty());
}

TEST_F(activity_log_test, unopenable_file_closes_the_old_one_and_reports_false) {
    ASSERT_TRUE(open_activity_log(log_path()));
    EXPECT_FALSE(open_activity_log(m_oHome.path() + "/missing-directory/QVLLogfile.txt"));
    EXPECT_FALSE(activity_console().has_log());
    set_activity_logging(true);
    log_activity("after the failed open");
    EXPECT_EQ(added_text(), "after the failed open\r\n");
    EXPECT_TRUE(file_lines_after_header().empty());
}

TEST_F(activity_log_test, long_lines_keep_exactly_511_characters) {
    ASSERT_TRUE(open_activity_log(log_path()));
    set_activity_logging(true);
    const std::string strLong(600, 'x');
    log_activity("%s", strLong.c_str());
    log_activity_text(strLong);
    // The cut applies to the formatted text, here in the middle of the number.
    log_activity("%s%d", std::string(509, 'a').c_str(), 12345);
    log_activity_text(std::string(511, 'b'));

    const std::vector<std::string> aExpected = {std::string(511, 'x'), std::string(511, 'x'),
                                                std::string(509, 'a') + "12", std::string(511, 'b')};
    EXPECT_EQ(split_crlf(added_text()), aExpected);
    EXPECT_EQ(file_lines_after_header(), aExpected);
}

TEST_F(activity_log_test, percent_signs_reach_the_file_unchanged) {
    ASSERT_TRUE(open_activity_log(log_path()));
    set_activity_logging(true);
    log_activity("S: cannot open %s", "100%s %d%n done%.txt");
    log_activity_text("50% of %s");
    const std::vector<std::string> aExpected = {"S: cannot open 100%s %d%n done%.txt", "50% of %s"};
    EXPECT_EQ(file_lines_after_header(), aExpected);
    EXPECT_EQ(split_crlf(added_text()), aExpected);
}

TEST_F(activity_log_test, every_open_appends_a_header_block) {
    ASSERT_TRUE(open_activity_log(log_path()));
    set_activity_logging(true);
    log_activity("first run");
    ASSERT_TRUE(open_activity_log(log_path()));
    log_activity("second run");
    close_activity_log();

    const std::vector<std::string> aLines = split_crlf(read_file(log_path()));
    ASSERT_EQ(aLines.size(), 8u);
    expect_header(aLines, 0);
    EXPECT_EQ(without_time_stamp(aLines[3]), "first run");
    expect_header(aLines, 4);
    EXPECT_EQ(without_time_stamp(aLines[7]), "second run");

    struct stat oStat {};
    ASSERT_EQ(::stat(log_path().c_str(), &oStat), 0);
    EXPECT_EQ(oStat.st_mode & 0777, 0600u);
}

TEST_F(activity_log_test, header_is_written_even_with_logging_off) {
    ASSERT_TRUE(open_activity_log(log_path()));
    EXPECT_TRUE(file_lines_after_header().empty());
}

TEST_F(activity_log_test, comments_reach_the_console_and_observers_but_never_the_file) {
    ASSERT_TRUE(open_activity_log(log_path()));
    std::vector<std::string> aSeen;
    const observer_token nToken =
        activity_console().add_observer([&](const log_line& oLine) { aSeen.emplace_back(oLine.text); });

    // Comments are the user's own and do not depend on the switch.
    activity_console().add_comment("checking the link to bob");
    activity_console().add_comment("");
    set_activity_logging(true);
    log_activity("logged");
    activity_console().remove_observer(nToken);

    EXPECT_EQ(added_text(), "==> checking the link to bob\r\n==> \r\nlogged\r\n");
    const std::vector<std::string> aExpected = {"==> checking the link to bob", "==> ", "logged"};
    EXPECT_EQ(aSeen, aExpected);
    EXPECT_EQ(file_lines_after_header(), std::vector<std::string>{"logged"});
}

TEST_F(activity_log_test, observers_hear_the_time_and_the_transfer_of_a_line) {
    std::vector<std::pair<std::uint64_t, std::string>> aSeen;
    std::chrono::system_clock::time_point oFirstTime;
    const auto oBefore = std::chrono::system_clock::now();
    const observer_token nToken = activity_console().add_observer([&](const log_line& oLine) {
        if (aSeen.empty()) {
            oFirstTime = oLine.time;
        }
        aSeen.emplace_back(oLine.transfer_id, oLine.text);
    });
    set_activity_logging(true);
    log_activity("before");
    {
        const transfer_log_scope oOuter(7);
        log_activity("inside");
        {
            const transfer_log_scope oInner(9);
            log_activity("nested");
        }
        log_activity("back");
    }
    log_activity("after");
    activity_console().remove_observer(nToken);

    const std::vector<std::pair<std::uint64_t, std::string>> aExpected = {
        {0, "before"}, {7, "inside"}, {9, "nested"}, {7, "back"}, {0, "after"}};
    EXPECT_EQ(aSeen, aExpected);
    EXPECT_GE(oFirstTime, oBefore);
    EXPECT_LE(oFirstTime, std::chrono::system_clock::now());
}

TEST_F(activity_log_test, removed_observers_are_not_called) {
    set_activity_logging(true);
    std::vector<std::string> aFirst;
    std::vector<std::string> aSecond;
    const observer_token nFirst =
        activity_console().add_observer([&](const log_line& oLine) { aFirst.emplace_back(oLine.text); });
    const observer_token nSecond =
        activity_console().add_observer([&](const log_line& oLine) { aSecond.emplace_back(oLine.text); });
    EXPECT_NE(nFirst, nSecond);
    log_activity("one");
    activity_console().remove_observer(nFirst);
    log_activity("two");
    activity_console().remove_observer(nSecond);
    log_activity("three");

    EXPECT_EQ(aFirst, std::vector<std::string>{"one"});
    EXPECT_EQ(aSecond, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(added_text(), "one\r\ntwo\r\nthree\r\n");
}

TEST_F(activity_log_test, an_observer_may_read_and_log_without_deadlock) {
    set_activity_logging(true);
    std::vector<std::string> aSeen;
    std::string strTextSeen;
    const observer_token nToken = activity_console().add_observer([&](const log_line& oLine) {
        const std::string_view strLine = oLine.text;
        aSeen.emplace_back(strLine);
        strTextSeen = activity_console().text();
        log_activity("echo of %.*s", static_cast<int>(strLine.size()), strLine.data());
    });
    log_activity("original");
    activity_console().remove_observer(nToken);

    // The nested line is stored but not announced again, or the observer would feed itself forever.
    EXPECT_EQ(aSeen, std::vector<std::string>{"original"});
    EXPECT_TRUE(strTextSeen.ends_with(m_strMark + "original\r\n"));
    EXPECT_EQ(added_text(), "original\r\necho of original\r\n");
}

TEST_F(activity_log_test, concurrent_loggers_lose_and_interleave_nothing) {
    constexpr int thread_count = 8;
    constexpr int lines_per_thread = 500;
    ASSERT_TRUE(open_activity_log(log_path()));
    std::mutex oSeenLock;
    std::vector<std::string> aSeen;
    const observer_token nToken = activity_console().add_observer([&](const log_line& oLine) {
        std::lock_guard guard(oSeenLock);
        aSeen.emplace_back(oLine.text);
    });
    set_activity_logging(true);

    // Long lines, so that two writers mixing their bytes would show.
    const std::string strPadding(300, '.');
    std::vector<std::thread> aThreads;
    for (int nThread = 0; nThread < thread_count; ++nThread) {
        aThreads.emplace_back([&, nThread] {
            for (int nLine = 0; nLine < lines_per_thread; ++nLine) {
                log_activity("%x S: line %d %s end", static_cast<unsigned>(nThread), nLine, strPadding.c_str());
            }
        });
    }
    for (std::thread& oThread : aThreads) {
        oThread.join();
    }
    activity_console().remove_observer(nToken);

    const auto check = [&](const std::vector<std::string>& aLines, const char* pWhere) {
        SCOPED_TRACE(pWhere);
        ASSERT_EQ(aLines.size(), static_cast<std::size_t>(thread_count * lines_per_thread));
        std::vector<int> aNext(thread_count, 0);
        for (const std::string& strLine : aLines) {
            unsigned nThread = 0;
            int nLine = 0;
            int nConsumed = 0;
            ASSERT_EQ(std::sscanf(strLine.c_str(), "%x S: line %d %n", &nThread, &nLine, &nConsumed), 2) << strLine;
            ASSERT_LT(nThread, static_cast<unsigned>(thread_count)) << strLine;
            ASSERT_EQ(strLine.substr(static_cast<std::size_t>(nConsumed)), strPadding + " end") << strLine;
            // Each thread's lines arrive complete and in the order that thread logged them.
            ASSERT_EQ(nLine, aNext[nThread]) << strLine;
            ++aNext[nThread];
        }
    };
    const std::vector<std::string> aConsole = split_crlf(added_text());
    const std::vector<std::string> aFile = file_lines_after_header();
    check(aConsole, "console");
    check(aFile, "file");
    // File, console and observers agree on one order: the order the lines took the lock.
    EXPECT_EQ(aFile, aConsole);
    std::lock_guard guard(oSeenLock);
    EXPECT_EQ(aSeen, aConsole);
}

TEST_F(activity_log_test, a_second_writer_cannot_open_a_held_file) {
    ASSERT_TRUE(open_activity_log(log_path()));
    message_console oOther;
    EXPECT_FALSE(oOther.open_log(log_path()));
    close_activity_log();
    EXPECT_TRUE(oOther.open_log(log_path()));
    oOther.add_line("from the other console");
    const std::vector<std::string> aLines = split_crlf(read_file(log_path()));
    ASSERT_EQ(aLines.size(), 7u);
    expect_header(aLines, 0);
    expect_header(aLines, 3);
    EXPECT_EQ(without_time_stamp(aLines[6]), "from the other console");
}

TEST(message_console_text, long_runs_keep_the_newest_whole_lines) {
    message_console oConsole(message_console::min_text_limit);
    for (int nLine = 0; nLine < 1000; ++nLine) {
        oConsole.add_line("line " + std::to_string(nLine) + " " +
                          std::string(static_cast<std::size_t>(nLine % 97), '#'));
    }
    const std::string strText = oConsole.text();
    EXPECT_LE(strText.size(), message_console::min_text_limit);
    EXPECT_GE(strText.size(), message_console::min_text_limit / 2);
    const std::vector<std::string> aLines = split_crlf(strText);
    ASSERT_FALSE(aLines.empty());
    // A contiguous run of whole lines ending with the newest one.
    int nExpected = 1000 - static_cast<int>(aLines.size());
    for (const std::string& strLine : aLines) {
        EXPECT_EQ(strLine, "line " + std::to_string(nExpected) + " " +
                               std::string(static_cast<std::size_t>(nExpected % 97), '#'));
        ++nExpected;
    }
}

TEST(message_console_text, a_limit_below_the_minimum_still_keeps_full_lines) {
    message_console oConsole(10);
    const std::string strLine(message_console::max_line_length, 'z');
    for (int nLine = 0; nLine < 20; ++nLine) {
        oConsole.add_line(strLine);
    }
    const std::vector<std::string> aLines = split_crlf(oConsole.text());
    ASSERT_FALSE(aLines.empty());
    for (const std::string& strKept : aLines) {
        EXPECT_EQ(strKept, strLine);
    }
}

} // namespace
} // namespace tiv
