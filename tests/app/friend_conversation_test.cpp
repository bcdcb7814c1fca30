#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mutex>

#include "app/friend_conversation.h"
#include "app/internal/program_parts.h"
#include "crypto/negotiating_authentycryptor.h"
#include "net/transfer/incoming_connection_handler.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/log_capture.h"
#include "support/temp_home.h"
#include "support/three_people.h"

namespace tiv {
namespace {

using version = negotiating_authentycryptor::version;
constexpr std::chrono::seconds settle_limit{10};

// Alice asks Bob's program, which listens on loopback in this process with no receiving slot at all: whatever it
// answers, it answers without one.
class FriendConversation : public test::three_people_test {
protected:
    void TearDown() override { m_pBob.reset(); }

    // Each holds the other pinned; Bob listens, announcing `announced`, and Alice's profile of him has his port.
    void listen(version announced = version::conversing, std::size_t receiving_slots = 0) {
        s_pBob->befriend(*s_pAlice, 0xE40, true);
        net_address loopback;
        ASSERT_TRUE(resolve_address("127.0.0.1", 0, loopback));
        m_pBob = std::make_unique<incoming_connection_handler>(
            m_oBoxes.path(), loopback, 4096,
            std::make_shared<negotiating_authentycryptor>(s_pBob->provider(), s_pBob->settings(), announced),
            receiving_slots, thread_bundle::transfer_listener{}, shared_real_file_writer(),
            [this](const friend_message& message) {
                const std::lock_guard guard(m_oLock);
                m_aShown.push_back(message);
                return true;
            });
        ASSERT_TRUE(m_pBob->listening());
        friend_profile bob = s_pBob->as_friend(0xE40, true);
        bob.port = ntohs(m_pBob->listening_address().endpoint.v4.sin_port);
        ASSERT_TRUE(save_profile(s_pAlice->settings(), bob));
    }

    std::vector<friend_message> shown() {
        const std::lock_guard guard(m_oLock);
        return m_aShown;
    }

    test::temp_home m_oBoxes;
    std::unique_ptr<incoming_connection_handler> m_pBob;
    std::mutex m_oLock; // guards m_aShown, which Bob's transfers fill
    std::vector<friend_message> m_aShown;
};

TEST_F(FriendConversation, ALoginCheckIsAnsweredInOneLineWithoutARowOrASlot) {
    ASSERT_NO_FATAL_FAILURE(listen());
    const test::log_capture log;
    const app::friend_reply online = app::check_login(s_pAlice->program(), "Bob");
    EXPECT_EQ(online.answer, app::friend_answer::answered) << online.words;
    EXPECT_EQ(online.words, "online (program answered in " + std::to_string(online.answered_ms) + " ms)");
    ASSERT_TRUE(test::wait_for([&] { return m_pBob->running_count() == 0; }, settle_limit));
    EXPECT_TRUE(m_pBob->snapshots().empty()) << "a check is no transfer";
    EXPECT_EQ(log.count_starting_with("R::Login check from [Alice] at 127.0.0.1:"), 1U);
    EXPECT_EQ(log.count_starting_with("R::Authenticating"), 0U) << "one line, whatever the exchange logged";
    EXPECT_EQ(log.count_starting_with("incoming_connection_handler"), 0U);

    m_pBob.reset();
    const app::friend_reply gone = app::check_login(s_pAlice->program(), "Bob");
    EXPECT_EQ(gone.answer, app::friend_answer::not_running);
    EXPECT_EQ(gone.words, "not running (connection refused)");
}

TEST_F(FriendConversation, KeysThatDifferAreNamedForTheSideThatMustImportAndLegacyFriendsAreNotAsked) {
    ASSERT_NO_FATAL_FAILURE(listen());
    friend_profile forged = s_pBob->as_friend(0xE40, true);
    forged.port = ntohs(m_pBob->listening_address().endpoint.v4.sin_port);
    forged.signature_key = s_pMallory->provider().signature_key_blob();
    ASSERT_TRUE(delete_profile(s_pAlice->settings(), "Bob")); // a stored pin is never replaced by saving
    ASSERT_TRUE(save_profile(s_pAlice->settings(), forged));
    EXPECT_EQ(app::check_login(s_pAlice->program(), "Bob").words, "keys differ: import Bob's new profile");

    forged.signature_key = s_pBob->provider().signature_key_blob();
    ASSERT_TRUE(delete_profile(s_pAlice->settings(), "Bob"));
    ASSERT_TRUE(save_profile(s_pAlice->settings(), forged));
    friend_profile old_alice = s_pAlice->as_friend(0xE40, true);
    old_alice.signature_key = s_pMallory->provider().signature_key_blob();
    ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice"));
    ASSERT_TRUE(save_profile(s_pBob->settings(), old_alice));
    const app::friend_reply refused = app::check_login(s_pAlice->program(), "Bob");
    EXPECT_EQ(refused.answer, app::friend_answer::keys_differ);
    EXPECT_EQ(refused.words, "keys differ: Bob needs your new profile");

    ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice"));
    EXPECT_EQ(app::check_login(s_pAlice->program(), "Bob").words, "unknown to Bob: Bob needs your profile");

    s_pAlice->befriend(*s_pMallory);
    const app::friend_reply legacy = app::check_login(s_pAlice->program(), "Mallory");
    EXPECT_EQ(legacy.answer, app::friend_answer::not_pinned);
    EXPECT_EQ(legacy.words, "cannot check: no pinned key");
}

TEST_F(FriendConversation, AMessageIsShownTamedOrRefusedAndATooLongOneNeverLeaves) {
    ASSERT_NO_FATAL_FAILURE(listen());
    const app::friend_reply delivered = app::send_message(s_pAlice->program(), "Bob",
                                                          "hi \x1b[2J\xe2\x80\xae"
                                                          "Bob");
    EXPECT_EQ(delivered.words, "delivered");
    ASSERT_EQ(shown().size(), 1U);
    EXPECT_EQ(shown()[0].friend_name, "Alice");
    EXPECT_EQ(shown()[0].text, "hi _[2J_Bob") << "control and bidirectional characters tamed as names are";

    // Unless Bob says otherwise, a friend whose parcels he refuses may not send messages either.
    friend_profile alice = s_pAlice->as_friend(0xE40, true);
    alice.receipt_enabled = 0;
    ASSERT_TRUE(save_profile(s_pBob->settings(), alice));
    const app::friend_reply refused = app::send_message(s_pAlice->program(), "Bob", "anyone there?");
    EXPECT_EQ(refused.answer, app::friend_answer::refused);
    EXPECT_EQ(refused.words, "refused: messages are off for you");
    alice.messages = true;
    ASSERT_TRUE(save_profile(s_pBob->settings(), alice));
    EXPECT_EQ(app::send_message(s_pAlice->program(), "Bob", "now?").words, "delivered");

    const test::log_capture log;
    const app::friend_reply long_one =
        app::send_message(s_pAlice->program(), "Bob", std::string(app::max_message_text + 1, 'x'));
    EXPECT_EQ(long_one.answer, app::friend_answer::too_long);
    EXPECT_EQ(log.count_starting_with("S::Authenticating"), 0U) << "refused before connecting";
    ASSERT_EQ(shown().size(), 2U);
    EXPECT_EQ(shown()[1].text, "now?");
}

TEST_F(FriendConversation, OlderReceiversAreCheckedAsFarAsTheyCanBeAndSentNoMessage) {
    for (const version older : {version::with_receipt, version::with_stream, version::following}) {
        // An older program takes its turn among the receiving transfers for any connection.
        ASSERT_NO_FATAL_FAILURE(listen(older, 1));
        const app::friend_reply checked = app::check_login(s_pAlice->program(), "Bob");
        EXPECT_EQ(checked.answer, app::friend_answer::older_program) << checked.words;
        EXPECT_EQ(checked.words, "older program");
        EXPECT_EQ(app::send_message(s_pAlice->program(), "Bob", "hello").words,
                  "older program: Bob's program takes no messages");
    }
    EXPECT_TRUE(shown().empty());
}

// The whole program's way: a message reaches the front ends' feeds, and with none, its sender hears it was not seen.
TEST_F(FriendConversation, AMessageReachesEveryFeedOfTheProgramAndNoFeedRefusesIt) {
    struct recording_sink : app::event_sink {
        void log(const app::log_event&) override {}
        void message(const app::received_message& message) override {
            const std::lock_guard guard(lock);
            texts.push_back(message.text);
        }
        std::mutex lock;
        std::vector<std::string> texts;
    } feed_sink;
    s_pBob->befriend(*s_pAlice, 0xE40, true);
    // Set up as a user would have it, so the start keeps the loopback address and a port the kernel chooses.
    for (const reg::key* hive : {&s_pBob->settings().machine_key(), &s_pBob->settings().user_key()}) {
        ASSERT_TRUE(write_dword_setting(*hive, names::setup_complete, 1));
    }
    ASSERT_TRUE(write_text_setting(s_pBob->settings().machine_key(), names::interface_ip_address, "127.0.0.1"));
    ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::interface_ip_port, 0));
    app::program& bob = s_pBob->program();
    bob.start();
    ASSERT_TRUE(bob.listen_status().ok()) << bob.listen_status().text();
    const std::string bound = bob.incoming().bound_address();
    friend_profile profile = s_pBob->as_friend(0xE40, true);
    profile.port = std::stoi(bound.substr(bound.rfind(':') + 1));
    ASSERT_TRUE(save_profile(s_pAlice->settings(), profile));
    {
        const app::message_feed feed(bob, feed_sink);
        EXPECT_EQ(app::send_message(s_pAlice->program(), "Bob", "seen").words, "delivered");
    }
    EXPECT_EQ(app::send_message(s_pAlice->program(), "Bob", "unseen").words,
              "refused: the receiving program shows no messages");
    bob.shutdown();
    const std::lock_guard guard(feed_sink.lock);
    EXPECT_EQ(feed_sink.texts, std::vector<std::string>{"seen"});
}

} // namespace
} // namespace tiv
