#include <csignal>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/lan_friends.h"
#include "app/program.h"
#include "app/send_destination.h"
#include "core/text.h"
#include "crypto/session_key_types.h"
#include "discovery/lan_network.h"
#include "integration/peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

namespace tiv::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t listening_port = 20417;

// Alice sends from one namespace; Bob, or Mallory claiming to be Bob, listens in the other and announces himself.
// Alice's profile of Bob names an address where nothing listens, so only the LAN can lead her to him.
class LanDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        bool unavailable = false;
        m_pNetwork = std::make_unique<lan_network>(why, unavailable);
        if (!why.empty()) {
            m_pNetwork.reset();
            if (unavailable) {
                GTEST_SKIP() << why;
            }
            FAIL() << why;
        }
        m_strWork = m_pNetwork->work();
        for (test_identity* person : {&m_oAlice, &m_oBob, &m_oMallory}) {
            prepare_peer(*person);
        }
        friend_profile bob = m_oBob.as_friend(all_session_key_types, true);
        copy_text_field(bob.address, m_pNetwork->at(0).address);
        bob.port = static_cast<std::int32_t>(listening_port);
        ASSERT_TRUE(save_profile(m_oAlice.settings(), bob));
        for (test_identity* person : {&m_oBob, &m_oMallory}) {
            ASSERT_TRUE(save_profile(person->settings(), m_oAlice.as_friend(all_session_key_types, true)));
        }
        write_random_file(m_strWork + "/parcel.bin", 70000);
    }
    void TearDown() override {
        m_pListener.reset();
        m_pNetwork.reset();
    }

    void listen_on_lan(test_identity& person) {
        const reg::key& machine = person.settings().machine_key();
        ASSERT_TRUE(write_text_setting(machine, names::interface_ip_address, m_pNetwork->at(1).address));
        ASSERT_TRUE(write_dword_setting(machine, names::interface_ip_port, listening_port));
        ASSERT_TRUE(write_dword_setting(machine, names::lan_announce, 1));
        const inside lan(m_pNetwork->at(1));
        m_pListener = std::make_unique<peer_process>(person.home(), std::vector<std::string>{"listen"},
                                                     m_strWork + "/listen.out");
        ASSERT_TRUE(m_pListener->wait_for_output("Listening on", 10000)) << m_pListener->output();
    }

    // Alice's `send Bob parcel.bin --verbose`: its exit code, its output in `output`.
    int send_to_bob(std::string& output) {
        const inside lan(m_pNetwork->at(0));
        peer_process sender(m_oAlice.home(), {"send", "Bob", m_strWork + "/parcel.bin", "--verbose"},
                            m_strWork + "/send.out");
        const int code = sender.wait(30000);
        output = sender.output();
        return code;
    }

    std::unique_ptr<lan_network> m_pNetwork;
    std::string m_strWork;
    test_identity m_oAlice{"Alice"};
    test_identity m_oBob{"Bob"};
    test_identity m_oMallory{"Mallory"};
    std::unique_ptr<peer_process> m_pListener;
};

TEST_F(LanDiscovery, FriendWithAStaleAddressIsFoundByUuidAndReceives) {
    listen_on_lan(m_oBob);
    std::string output;
    EXPECT_EQ(send_to_bob(output), 0) << output;
    EXPECT_NE(output.find("announced on the LAN for Bob"), std::string::npos) << output;
    EXPECT_EQ(file_sha256(m_oBob.home() + "/PBoxes/Alice/parcel.bin"), file_sha256(m_strWork + "/parcel.bin"));
}

TEST_F(LanDiscovery, StrangerAnnouncingAFriendsUuidFailsAuthentication) {
    ASSERT_TRUE(write_text_setting(m_oMallory.settings().user_key(), names::user_uuid, m_oBob.uuid()));
    listen_on_lan(m_oMallory);
    std::string output;
    EXPECT_NE(send_to_bob(output), 0) << output;
    EXPECT_NE(output.find("announced on the LAN for Bob"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(m_oMallory.home() + "/PBoxes/Alice/parcel.bin"));
    EXPECT_NE(output.find("FAILED->the receiver's signature key is not the pinned one"), std::string::npos) << output;
}

TEST_F(LanDiscovery, FriendIsListedOnTheLanWhileListening) {
    listen_on_lan(m_oBob);
    const inside lan(m_pNetwork->at(0));
    app::program& alice = m_oAlice.program();
    alice.start();
    std::vector<app::lan_friend> found;
    ASSERT_TRUE(wait_for([&] { return !(found = app::friends_on_lan(alice)).empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(found.front().name, "Bob");
    EXPECT_EQ(found.front().port, listening_port);
    EXPECT_EQ(app::lan_words(found.front()), "on the LAN at " + m_pNetwork->at(1).address);
    EXPECT_THAT(app::destination_choices(alice),
                ::testing::Contains("Bob [on the LAN at " + m_pNetwork->at(1).address + "]"));

    // A listener that stops takes its announcement with it.
    m_pListener->signal(SIGINT);
    EXPECT_EQ(m_pListener->wait(5000), 0);
    EXPECT_TRUE(wait_for([&] { return app::friends_on_lan(alice).empty(); }, std::chrono::seconds(5)));
    alice.shutdown();
}

} // namespace
} // namespace tiv::test
