#include <gtest/gtest.h>

#include "cli/send_result.h"
#include "support/cli_runner.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using test::run_cli;

class CliTransfers : public test::home_test {};

// What send prints may quote names and reasons that are not the user's own words; none of it reaches the terminal
// raw, where an escape sequence would retitle the window or a bidi override turn a name around.
TEST_F(CliTransfers, ResultLinesEscapeWhatATerminalWouldAct) {
    ASSERT_EQ(run_cli({"init", "--name", "Alice", "--key-bits", "1024"}).code, 0);
    const std::string alice = m_oHome.path() + "/alice";
    ASSERT_EQ(run_cli({"export-profile", alice}).code, 0);
    const test::temp_home bob_home;
    ASSERT_EQ(run_cli({"init", "--name", "Bob", "--key-bits", "1024"}).code, 0);
    ASSERT_EQ(run_cli({"import-profile", alice + ".prf"}).code, 0);

    const std::string missing = bob_home.path() + "/\x1b]0;owned\x07" + "report\u202etxt.exe";
    const auto sent = run_cli({"send", "Alice", missing, "--to", "127.0.0.1:9"});
    EXPECT_EQ(sent.code, 1);
    const std::string shown = bob_home.path() + "/\\x1b]0;owned\\x07report\\u202etxt.exe";
    EXPECT_NE(sent.out.find(shown + ": OPENING_READ_FILE: failed, status 0 (" + shown + " does not exist)"),
              std::string::npos)
        << sent.out;
    EXPECT_EQ(sent.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(sent.out.find("\u202e"), std::string::npos);
}

// A file that failed at the end of its data is left in COMPLETED too; its line must not read as a success.
TEST(SendResultLine, OnlyAFileThatArrivedReadsCompleted) {
    app::transfer_view ended;
    ended.finished = true;
    ended.state = app::transfer_state::completed;
    EXPECT_EQ(cli::send_result_line("a.txt", ended), "a.txt: COMPLETED");
    ended.failed = true;
    ended.status = app::transfer_status::send;
    ended.status_text = "the receiver answered out of turn";
    EXPECT_EQ(cli::send_result_line("a.txt", ended), "a.txt: failed, status 5 (the receiver answered out of turn)");
}

} // namespace
} // namespace tiv
