#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>

#include "app/history.h"
#include "app/internal/history/history_keeper.h"
#include "app/internal/history/history_record.h"
#include "app/internal/receiver.h"
#include "app/send_service.h"
#include "crypto/negotiating_authentycryptor.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_clock.h"
#include "support/three_people.h"

namespace tiv {
namespace {

using namespace std::chrono_literals;

std::int64_t seconds_of(const test::test_clock& clock) {
    return std::chrono::duration_cast<std::chrono::seconds>(clock.calendar().time_since_epoch()).count();
}

transfer_view stored_row(const std::string& name, std::int64_t ended) {
    transfer_view row;
    row.direction = transfer_direction::receiving;
    row.friend_name = "Alice";
    row.file_name = name;
    row.stored_path = "/boxes/Alice/" + name;
    row.size = row.bytes_done = 70000;
    row.state = transfer_state::completed;
    row.finished = true;
    row.end_time = ended;
    return row;
}

std::vector<std::string> names_of(const std::vector<transfer_view>& rows) {
    std::vector<std::string> names;
    for (const transfer_view& row : rows) {
        names.push_back(row.file_name);
    }
    return names;
}

std::size_t stored_values(const qvl_settings_data& settings) {
    reg::key history;
    std::vector<reg::value_entry> values;
    if (reg::open_key(settings.user_key(), names::history, history) != reg::success) {
        return 0;
    }
    EXPECT_EQ(reg::enum_values(history, values), reg::success);
    return values.size();
}

TEST(HistoryRecord, RowsComeBackAsTheyEndedAndDamageIsRefused) {
    transfer_view refused = stored_row("tax form.pdf", 1'800'000'000);
    refused.direction = transfer_direction::sending;
    refused.failed = true;
    refused.status = transfer_status::refused;
    refused.status_text = "over the size limit";
    refused.stored_path.clear();
    refused.peer_address = "[::1]:20000";
    const std::vector<transfer_view> rows{stored_row("a.jpg", 1'700'000'000), refused};
    const std::vector<std::uint8_t> bytes = app::encode_history_record(rows);
    const auto back = app::decode_history_record(bytes);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2U);
    EXPECT_EQ((*back)[1].direction, transfer_direction::sending);
    EXPECT_TRUE((*back)[1].failed && (*back)[1].finished && (*back)[1].connection_ended);
    EXPECT_EQ((*back)[1].status, transfer_status::refused);
    EXPECT_EQ((*back)[1].status_text, "over the size limit");
    EXPECT_EQ((*back)[1].peer_address, "[::1]:20000");
    EXPECT_EQ((*back)[0].stored_path, "/boxes/Alice/a.jpg");
    EXPECT_EQ((*back)[0].end_time, 1'700'000'000);

    // A cut value reads only where a row ends, and then as the rows before the cut.
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const auto part = app::decode_history_record(std::span(bytes).first(cut));
        EXPECT_TRUE(!part || part->size() < 2) << "cut at byte " << cut;
    }
    EXPECT_FALSE(app::decode_history_record(std::span(bytes).first(20)));
    std::vector<std::uint8_t> unknown_state = bytes;
    unknown_state[3] = 13;
    EXPECT_FALSE(app::decode_history_record(unknown_state));
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(app::decode_history_record(longer));
}

class History : public test::three_people_test {};

TEST_F(History, KeepsFriendsFilesForItsDaysAcrossRestartsUntilCleared) {
    test::temp_home home;
    test::test_identity bob("Bob");
    test::test_clock clock;
    const std::int64_t now = seconds_of(clock);
    {
        app::history_keeper kept(bob.settings().user_key(), clock);
        kept.record(stored_row("old.jpg", now - 29 * 86400));
        kept.record(stored_row("new.jpg", now));
        transfer_view stranger = stored_row("unknown.bin", now);
        stranger.friend_name.clear();
        kept.record(stranger);
        transfer_view turned_away = stored_row("", now);
        turned_away.state = transfer_state::authenticating;
        kept.record(turned_away);
        transfer_view running = stored_row("running.iso", now);
        running.finished = false;
        kept.record(running);
    } // written as the program ends
    app::history_keeper restarted(bob.settings().user_key(), clock);
    EXPECT_EQ(names_of(restarted.read()), (std::vector<std::string>{"new.jpg", "old.jpg"}));

    clock.advance(std::chrono::hours(24 * 2));
    EXPECT_EQ(names_of(restarted.read()), std::vector<std::string>{"new.jpg"}) << "30 days by default";
    ASSERT_TRUE(write_dword_setting(bob.settings().user_key(), names::history_days, 1));
    EXPECT_TRUE(restarted.read().empty());
    EXPECT_EQ(stored_values(bob.settings()), 0U) << "what is past its days is deleted, not only hidden";

    ASSERT_TRUE(write_dword_setting(bob.settings().user_key(), names::history_days, 0));
    restarted.record(stored_row("kept nowhere.txt", seconds_of(clock)));
    restarted.flush();
    EXPECT_EQ(stored_values(bob.settings()), 0U) << "0 keeps no history";

    ASSERT_TRUE(write_dword_setting(bob.settings().user_key(), names::history_days, 30));
    const std::uint64_t before = restarted.generation();
    restarted.record(stored_row("cleared.txt", seconds_of(clock)));
    restarted.flush();
    EXPECT_GT(restarted.generation(), before);
    ASSERT_TRUE(restarted.clear().ok());
    EXPECT_TRUE(restarted.read().empty());
}

TEST_F(History, EveryFileOfAStreamIsHeardAtItsEndOnBothSides) {
    s_pAlice->befriend(*s_pBob, 0xE40, true);
    s_pBob->befriend(*s_pAlice, 0xE40, true);
    test::temp_home files;
    ASSERT_TRUE(app::clear_history(s_pAlice->program()).ok());
    struct heard {
        std::mutex lock;
        std::vector<transfer_view> rows;
    };
    const auto bob_heard = std::make_shared<heard>();
    app::receiver bob(std::make_shared<negotiating_authentycryptor>(s_pBob->provider(), s_pBob->settings()));
    bob.set_row_listener([bob_heard](const transfer_view& row) {
        const std::lock_guard guard(bob_heard->lock);
        bob_heard->rows.push_back(row);
    });
    ASSERT_TRUE(bob.start({"127.0.0.1", 0, 4096, files.path() + "/boxes"}).ok());
    const std::string bound = bob.bound_address();
    const auto port = static_cast<std::uint32_t>(std::stoul(bound.substr(bound.find(':') + 1)));
    std::vector<std::string> sent;
    for (const char* name : {"one.txt", "two.txt"}) {
        sent.push_back(files.path() + "/" + name);
        std::ofstream(sent.back()) << "parcel " << name << '\n';
    }
    {
        app::send_session session(s_pAlice->program());
        ASSERT_TRUE(session.set_destination("Bob", "127.0.0.1", port).ok());
        ASSERT_TRUE(session.send(sent).ok());
        ASSERT_TRUE(session.wait_until_ended(std::chrono::steady_clock::now() + 20s));
    }
    ASSERT_TRUE(test::wait_for([&] { return bob.running_count() == 0; }, 20s));
    bob.stop();

    std::vector<std::string> stored;
    for (const transfer_view& row : bob_heard->rows) {
        if (row.finished) {
            EXPECT_EQ(row.friend_name, "Alice");
            stored.push_back(row.stored_path.substr(row.stored_path.rfind('/') + 1));
        }
    }
    EXPECT_EQ(stored, (std::vector<std::string>{"one.txt", "two.txt"})) << "one connection, a row for each file";
    const std::vector<transfer_view> history = app::read_history(s_pAlice->program());
    ASSERT_EQ(history.size(), 2U);
    for (const transfer_view& row : history) {
        EXPECT_EQ(row.direction, transfer_direction::sending);
        EXPECT_EQ(row.friend_name, "Bob");
        EXPECT_EQ(row.state, transfer_state::completed) << row.status_text;
    }
}

} // namespace
} // namespace tiv
