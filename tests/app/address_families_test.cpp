#include <fstream>
#include <gtest/gtest.h>

#include "app/internal/receiver.h"
#include "app/send_service.h"
#include "crypto/negotiating_authentycryptor.h"
#include "net/loopback.h"
#include "support/scripted_questions.h"
#include "support/temp_home.h"
#include "support/three_people.h"

namespace tiv {
namespace {

constexpr std::chrono::seconds transfer_limit{20};

class AddressFamilies : public test::three_people_test {
protected:
    void SetUp() override {
        three_people_test::SetUp();
        SKIP_WITHOUT_IPV6();
        s_pAlice->befriend(*s_pBob);
        s_pBob->befriend(*s_pAlice);
        std::ofstream(m_oFiles.path() + "/parcel.txt") << "a parcel for Bob\n";
    }

    // Bob listening on `host` (port chosen by the kernel); the port it got.
    std::uint32_t listen_on(app::receiver& bob, const std::string& host) {
        const app::status started = bob.start({host, 0, 4096, m_oFiles.path() + "/boxes"});
        EXPECT_TRUE(started.ok()) << started.text();
        const std::string bound = bob.bound_address();
        return static_cast<std::uint32_t>(std::stoul(bound.substr(bound.rfind(':') + 1)));
    }

    // Sends the parcel from `alice` to Bob at `host`; the sent transfer as it ended.
    app::transfer_view send(app::program& alice, const std::string& host, std::uint32_t port) {
        app::send_session session(alice);
        const app::status destined = session.set_destination("Bob", host, port);
        EXPECT_TRUE(destined.ok()) << destined.text();
        const auto started = session.send({m_oFiles.path() + "/parcel.txt"});
        EXPECT_TRUE(started.ok());
        EXPECT_TRUE(session.wait_until_ended(std::chrono::steady_clock::now() + transfer_limit));
        return session.snapshots(*started).front();
    }

    std::shared_ptr<negotiating_authentycryptor> authenticator() {
        return std::make_shared<negotiating_authentycryptor>(s_pBob->provider(), s_pBob->settings());
    }

    test::temp_home m_oFiles;
};

TEST_F(AddressFamilies, AListenerOnEveryAddressTakesBothFamilies) {
    app::receiver bob(authenticator());
    const std::uint32_t port = listen_on(bob, "::");
    EXPECT_EQ(bob.bound_address(), "[::]:" + std::to_string(port));
    for (const char* host : {"127.0.0.1", "::1"}) {
        const app::transfer_view sent = send(s_pAlice->program(), host, port);
        EXPECT_EQ(sent.state, app::transfer_state::completed) << host << ": " << sent.status_text;
    }
    ASSERT_TRUE(test::wait_for([&] { return bob.running_count() == 0; }, transfer_limit));
    const std::vector<app::transfer_view> received = bob.snapshots();
    ASSERT_EQ(received.size(), 2U);
    EXPECT_EQ(received[0].peer_address.rfind("127.0.0.1:", 0), 0U) << "an IPv4 peer is shown as one";
    EXPECT_EQ(received[1].peer_address.rfind("[::1]:", 0), 0U);
}

// A name with an address of each family, one of which refuses: the other one serves, whichever comes first.
TEST_F(AddressFamilies, ANameIsReachedThroughWhicheverOfItsAddressesAnswers) {
    const name_resolver both = [](const std::string& name, std::uint16_t port) {
        resolved_names found;
        if (name == "bob.test") {
            found.addresses.resize(2);
            EXPECT_TRUE(resolve_address("::1", port, found.addresses[0]));
            EXPECT_TRUE(resolve_address("127.0.0.1", port, found.addresses[1]));
        }
        return found;
    };
    test::scripted_questions nobody;
    app::program alice(app::program_environment{s_pAlice->settings(), s_pAlice->provider(), both}, nobody);
    for (const char* only : {"127.0.0.1", "::1"}) {
        app::receiver bob(authenticator());
        const std::uint32_t port = listen_on(bob, only);
        const app::transfer_view sent = send(alice, "bob.test", port);
        EXPECT_EQ(sent.state, app::transfer_state::completed) << only << ": " << sent.status_text;
        const std::string used = std::string(only) == "::1" ? "[::1]:" : "127.0.0.1:";
        EXPECT_EQ(sent.peer_address, used + std::to_string(port)) << "the row names the address that served";
        ASSERT_TRUE(test::wait_for([&] { return bob.running_count() == 0; }, transfer_limit));
    }
}

} // namespace
} // namespace tiv
