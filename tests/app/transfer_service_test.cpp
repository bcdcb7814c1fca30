#include <fstream>
#include <gtest/gtest.h>

#include "app/internal/destination_check.h"
#include "app/internal/receiver.h"
#include "app/send_service.h"
#include "crypto/negotiating_authentycryptor.h"
#include "support/fifo_call.h"
#include "support/temp_home.h"
#include "support/three_people.h"

namespace tiv {
namespace {

constexpr std::chrono::seconds transfer_limit{20};

class TransferServices : public test::three_people_test {
protected:
    app::listen_config loopback(const std::string& root) const { return {"127.0.0.1", 0, 4096, root}; }

    std::shared_ptr<negotiating_authentycryptor> authenticator(test::test_identity& person) {
        return std::make_shared<negotiating_authentycryptor>(person.provider(), person.settings());
    }

    test::temp_home m_oFiles;
};

TEST_F(TransferServices, DestinationsThatCanOnlyFailAreRefusedBeforeConnecting) {
    const auto check = [](const std::string& host, std::uint32_t port) {
        return app::check_destination(host, port, resolve_all);
    };
    EXPECT_EQ(check("0.0.0.0", 20000).error().code(), app::status_code::invalid);
    EXPECT_EQ(check("::", 20000).error().code(), app::status_code::invalid);
    EXPECT_EQ(check("127.0.0.1", 0).error().code(), app::status_code::invalid);
    EXPECT_EQ(check("255.255.255.255", 20000).error().text(), "cannot resolve '255.255.255.255'.");
    EXPECT_EQ(check("fe80::1", 20000).error().text(),
              "'fe80::1' is a link-local address, which needs the interface it is reached through: add it after a "
              "'%', as in fe80::1%eth0.");
    EXPECT_EQ(check("fe80::1%lo", 20000)->front().endpoint.v6.sin6_scope_id, 1U) << "the zone names the interface";
    EXPECT_TRUE(check("127.0.0.1", 20000).ok());
    EXPECT_EQ(check("bob\x1b]0;owned\x07", 20000).error().text(),
              "the address 'bob\\x1b]0;owned\\x07' holds control or bidirectional characters.")
        << "a friend stored before addresses were checked";

    app::send_session session(s_pAlice->program());
    EXPECT_EQ(session.set_destination("Bob").code(), app::status_code::not_found);
    s_pAlice->befriend(*s_pBob); // stored with port 0: only a given port can reach him
    EXPECT_EQ(session.set_destination("Bob").code(), app::status_code::invalid);
    EXPECT_EQ(session.send({"/etc/hostname"}).error().code(), app::status_code::invalid)
        << "nothing starts without a destination";

    ASSERT_TRUE(session.set_destination("Bob", "127.0.0.1", 20000).ok());
    const std::string fifo = m_oFiles.path() + "/fifo";
    ASSERT_TRUE(test::make_fifo(fifo));
    EXPECT_EQ(session.send({"/etc/hostname", fifo}).error().text(), fifo + " is a pipe; only files can be sent.");
    EXPECT_TRUE(session.snapshots().empty()) << "not even the regular file started";
}

TEST_F(TransferServices, ReceiverRestartsOnANewConfigurationAndNamesAPortInUse) {
    app::receiver first(authenticator(*s_pBob));
    ASSERT_TRUE(first.start(loopback(m_oFiles.path() + "/one")).ok());
    const std::string bound = first.bound_address();
    EXPECT_EQ(bound.rfind("127.0.0.1:", 0), 0U);

    const std::uint32_t taken = static_cast<std::uint32_t>(std::stoul(bound.substr(bound.find(':') + 1)));
    app::receiver second(authenticator(*s_pBob));
    const app::status clash = second.start({"127.0.0.1", taken, 4096, m_oFiles.path() + "/two"});
    EXPECT_EQ(clash.code(), app::status_code::in_use);
    EXPECT_EQ(clash.text(), "cannot listen on 127.0.0.1:" + std::to_string(taken) + ": Address already in use.");

    first.stop();
    EXPECT_FALSE(first.listening());
    ASSERT_TRUE(second.start({"127.0.0.1  [local loopback]", taken, 8192, m_oFiles.path() + "/two"}).ok())
        << "the port is free again";
    EXPECT_EQ(second.bound_address(), bound);
    EXPECT_EQ(second.config().block_size, 8192);
}

TEST_F(TransferServices, SentFilesArriveAndBothEndsListTheTransferAsCompleted) {
    s_pAlice->befriend(*s_pBob);
    s_pBob->befriend(*s_pAlice);
    app::receiver bob(authenticator(*s_pBob));
    ASSERT_TRUE(bob.start(loopback(m_oFiles.path() + "/boxes")).ok());
    const std::string bound = bob.bound_address();
    const auto port = static_cast<std::uint32_t>(std::stoul(bound.substr(bound.find(':') + 1)));

    const std::string file = m_oFiles.path() + "/parcel.txt";
    std::ofstream(file) << "a parcel for Bob\n";
    app::send_session session(s_pAlice->program());
    ASSERT_TRUE(session.set_destination("Bob", "127.0.0.1", port).ok());
    const auto started = session.send({file});
    ASSERT_TRUE(started.ok()) << started.error().text();
    const std::vector<std::uint64_t>& ids = *started;
    ASSERT_EQ(ids.size(), 1U);
    // The wait ends with the transfer, not at its deadline.
    const auto waited_from = std::chrono::steady_clock::now();
    ASSERT_TRUE(session.wait_until_ended(waited_from + 3 * transfer_limit));
    EXPECT_LT(std::chrono::steady_clock::now() - waited_from, transfer_limit);
    ASSERT_TRUE(test::wait_for([&] { return bob.running_count() == 0; }, transfer_limit));

    const app::transfer_view sent = session.snapshots(ids).front();
    EXPECT_EQ(sent.state, app::transfer_state::completed) << sent.status_text;
    const std::vector<app::transfer_view> received = bob.snapshots();
    ASSERT_EQ(received.size(), 1U);
    EXPECT_EQ(received[0].state, app::transfer_state::completed) << received[0].status_text;
    EXPECT_FALSE(received[0].stored_path.empty());
}

} // namespace
} // namespace tiv
