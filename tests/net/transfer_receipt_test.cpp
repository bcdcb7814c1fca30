#include <chrono>
#include <thread>

#include "crypto/negotiating_authentycryptor.h"
#include "transfer_fixture.h"

namespace tiv::test {
namespace {

using version = negotiating_authentycryptor::version;

// Bob's side of the session, slow where a receiver finishes a file: the step after the last byte takes as long as
// a slow disk's write-out and rename would.
class slow_finisher final : public authentycryptor {
public:
    slow_finisher(std::unique_ptr<authentycryptor> inner, std::chrono::seconds delay)
        : m_pInner(std::move(inner)), m_nDelay(delay) {}

    std::unique_ptr<authentycryptor> clone() const override {
        return std::make_unique<slow_finisher>(m_pInner->clone(), m_nDelay);
    }
    bool AuthenticateAsSender(record_link& connection, const friend_profile& destination) override {
        return m_pInner->AuthenticateAsSender(connection, destination);
    }
    bool AuthenticateAsReceiver(record_link& connection, friend_profile& sender) override {
        return m_pInner->AuthenticateAsReceiver(connection, sender);
    }
    int block_allowance() const override { return m_pInner->block_allowance(); }
    bool encrypt(std::span<const std::uint8_t> data, bool final, std::vector<std::uint8_t>& out) override {
        return m_pInner->encrypt(data, final, out);
    }
    bool decrypt(std::span<const std::uint8_t> data, bool final, byte_buffer& out) override {
        if (final && data.empty()) {
            std::this_thread::sleep_for(m_nDelay);
        }
        return m_pInner->decrypt(data, final, out);
    }
    std::size_t encrypted_length(std::size_t plain_bytes) const override {
        return m_pInner->encrypted_length(plain_bytes);
    }
    bool carries_receipts() const override { return m_pInner->carries_receipts(); }

private:
    std::unique_ptr<authentycryptor> m_pInner;
    std::chrono::seconds m_nDelay;
};

// Pinned friends, so the TLS exchange runs; each side's authenticator is chosen by the test.
class TransferReceipts : public transfer_test {
protected:
    void SetUp() override {
        transfer_test::SetUp();
        ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice"));
        ASSERT_TRUE(save_profile(s_pBob->settings(), s_pAlice->as_friend(all_session_key_types, true)));
        m_oBobProfile = s_pBob->as_friend(all_session_key_types, true);
    }

    void run(std::shared_ptr<const authentycryptor> bob, version alice) {
        net_address local;
        ASSERT_TRUE(resolve_address("127.0.0.1", 0, local));
        m_pListener = std::make_unique<incoming_connection_handler>(m_strRoot, local, 2048, std::move(bob));
        ASSERT_TRUE(m_pListener->listening());
        m_pSender = std::make_unique<outgoing_connection_handler>(
            std::make_shared<negotiating_authentycryptor>(s_pAlice->provider(), s_pAlice->settings(), alice));
        m_pSender->profile = &m_oBobProfile;
    }

    static std::shared_ptr<negotiating_authentycryptor> bob(version announced) {
        return std::make_shared<negotiating_authentycryptor>(s_pBob->provider(), s_pBob->settings(), announced);
    }
};

TEST_F(TransferReceipts, ReceiverThatTakesFifteenSecondsToFinishIsStillASuccess) {
    constexpr auto delay = std::chrono::seconds(15);
    run(std::make_shared<slow_finisher>(bob(version::with_receipt)->clone(), delay), version::with_receipt);
    const std::string source = make_file("slow.bin", 300000);
    const auto sent = send_file(source);
    ASSERT_TRUE(wait_sent(std::chrono::seconds(90)));
    const transfer_view done = sent->snapshot();
    EXPECT_FALSE(done.failed) << done.status_text;
    EXPECT_EQ(done.state, transfer_state::completed);
    EXPECT_GE(done.seconds, 15.0) << "the receiver was not slow";
    EXPECT_EQ(read_all(alice_box() + "/slow.bin"), read_all(source));
}

// A peer of version 1 neither sends nor awaits a receipt; either way round the parcel arrives and counts as sent.
TEST_F(TransferReceipts, PeersOfVersionOneStillExchangeParcels) {
    for (const auto& [alice, bobs] : {std::pair{version::without_receipt, version::with_receipt},
                                      std::pair{version::with_receipt, version::without_receipt}}) {
        SCOPED_TRACE(alice == version::without_receipt ? "Alice is of version 1" : "Bob is of version 1");
        remove_tree(alice_box());
        run(bob(bobs), alice);
        const std::string source = make_file("old.bin", 100000);
        const auto sent = send_file(source);
        ASSERT_TRUE(wait_sent() && wait_received(1));
        EXPECT_FALSE(sent->snapshot().failed) << sent->snapshot().status_text;
        EXPECT_FALSE(received(0).failed);
        EXPECT_EQ(read_all(alice_box() + "/old.bin"), read_all(source));
        m_pSender.reset();
        m_pListener.reset();
    }
}

} // namespace
} // namespace tiv::test
