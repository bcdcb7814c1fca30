#include <ctime>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "crypto/negotiating_authentycryptor.h"
#include "crypto/session_ticket_cache.h"
#include "crypto/tls_ticket_keys.h"
#include "net/socket/socket_link.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "support/log_capture.h"
#include "support/socket_pair.h"
#include "support/test_clock.h"
#include "support/test_identity.h"

namespace tiv {
namespace {

using test::test_identity;
using version = negotiating_authentycryptor::version;

// People of their own, so no session saved by another test in this process can make a first connection resume.
class SessionResumption : public ::testing::Test {
protected:
    struct outcome {
        bool sent = false;
        bool received = false;
        bool sender_resumed = false;
        bool receiver_resumed = false;
        auth_failure sender_failure = auth_failure::none;
    };

    // `from` sends to `to`, whom it knows by `destination`; a short record crosses when both accept.
    outcome connect(test_identity& from, test_identity& to, const friend_profile& destination) {
        negotiating_authentycryptor sender(from.provider(), from.settings(), version::with_receipt, m_oClock);
        negotiating_authentycryptor receiver(to.provider(), to.settings(), version::with_receipt, m_oClock);
        test::socket_pair pair = test::connect_loopback(3000);
        socket_link server_link(*pair.server);
        socket_link client_link(*pair.client);
        auto receiving = std::async(std::launch::async, [&] {
            friend_profile found;
            const bool accepted = receiver.AuthenticateAsReceiver(server_link, found);
            ::shutdown(pair.server->handle, SHUT_WR);
            return accepted;
        });
        outcome result;
        result.sent = sender.AuthenticateAsSender(client_link, destination);
        ::shutdown(pair.client->handle, SHUT_WR);
        result.received = receiving.get();
        result.sender_resumed = sender.resumed();
        result.receiver_resumed = receiver.resumed();
        result.sender_failure = sender.last_failure();
        if (result.sent && result.received) {
            // As a transfer does, the sender reads what the receiver sent: its confirmation, then its end.
            std::vector<std::uint8_t> arrived(4096);
            byte_buffer confirmation;
            const ssize_t n = ::recv(pair.client->handle, arrived.data(), arrived.size(), MSG_WAITALL);
            arrived.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            EXPECT_TRUE(sender.decrypt(arrived, false, confirmation));
            EXPECT_TRUE(confirmation.empty()) << "the confirmation is the sender's own to check";
            EXPECT_FALSE(sender.awaiting_peer_confirmation());
            const std::vector<std::uint8_t> record(264, 0x5A);
            std::vector<std::uint8_t> wire;
            byte_buffer plain;
            EXPECT_TRUE(sender.encrypt(record, false, wire) && sender.encrypt({}, true, wire));
            EXPECT_TRUE(receiver.decrypt(wire, false, plain) && receiver.decrypt({}, true, plain));
            EXPECT_THAT(plain, testing::ElementsAreArray(record));
        }
        return result;
    }

    static ticket_slot slot_of(test_identity& sender, const test_identity& receiver) {
        const friend_profile destination = receiver.as_friend(0xE40, true);
        std::vector<std::uint8_t> own;
        EXPECT_TRUE(
            cryptoapi::export_public_key_blob(*sender.provider().signature_key(), cryptoapi::calg_rsa_sign, own));
        return ticket_slot_for(destination.uuid, destination.signature_key, own, tls_suite_for(0x800));
    }

    test_identity m_oAlice{"Alice"};
    test_identity m_oBob{"Bob"};
    test::log_capture m_oLog;
    test::test_clock m_oClock;
};

TEST_F(SessionResumption, SecondConnectionResumesAndIsKeptForThisFriendOnly) {
    test_identity carol("Carol");
    m_oBob.befriend(m_oAlice, 0xE40, true);

    const outcome first = connect(m_oAlice, m_oBob, m_oBob.as_friend(0xE40, true));
    ASSERT_TRUE(first.sent && first.received);
    EXPECT_FALSE(first.sender_resumed || first.receiver_resumed) << "the first connection makes a full handshake";
    const outcome second = connect(m_oAlice, m_oBob, m_oBob.as_friend(0xE40, true));
    ASSERT_TRUE(second.sent && second.received);
    EXPECT_TRUE(second.sender_resumed);
    EXPECT_TRUE(second.receiver_resumed);
    EXPECT_TRUE(m_oLog.contains("R::TLS session resumed"));

    // Saved on disk for the next process, under Bob's slot only; a session made with Bob is not offered where
    // Carol is pinned.
    const std::string keys = m_oAlice.provider().key_directory();
    const auto saved = read_ticket_file(keys, slot_of(m_oAlice, m_oBob), std::time(nullptr));
    ASSERT_TRUE(saved.has_value());
    EXPECT_FALSE(find_session_ticket(keys, slot_of(m_oAlice, carol), std::time(nullptr)).has_value());
    std::string error;
    for (test_identity* pinned : {&m_oBob, &carol}) {
        auto channel = tls_channel::make(tls_channel::role::client, *m_oAlice.provider().signature_key(),
                                         *pinned->provider().signature_key(), tls_suite_for(0x800), error);
        ASSERT_NE(channel, nullptr) << error;
        EXPECT_EQ(channel->offer_session(saved->session), pinned == &m_oBob);
    }

    // Longer than TLS 1.3 lets any session live: the saved one is not offered, and a full handshake follows.
    m_oClock.advance(std::chrono::days(8));
    const outcome later = connect(m_oAlice, m_oBob, m_oBob.as_friend(0xE40, true));
    ASSERT_TRUE(later.sent && later.received);
    EXPECT_FALSE(later.sender_resumed || later.receiver_resumed);
}

TEST_F(SessionResumption, AReKeyOnEitherSideEndsResumption) {
    m_oBob.befriend(m_oAlice, 0xE40, true);
    const friend_profile old_bob = m_oBob.as_friend(0xE40, true);
    ASSERT_TRUE(connect(m_oAlice, m_oBob, old_bob).received);
    ASSERT_TRUE(connect(m_oAlice, m_oBob, old_bob).receiver_resumed);

    // Bob re-keys: his new ticket keys cannot open the saved session, and his new certificate is not the pin.
    ASSERT_TRUE(m_oBob.provider().generate_signature_key(1024));
    const outcome stale = connect(m_oAlice, m_oBob, old_bob);
    EXPECT_FALSE(stale.sent || stale.sender_resumed || stale.receiver_resumed);
    EXPECT_EQ(stale.sender_failure, auth_failure::peer_keys_changed);
    const outcome imported = connect(m_oAlice, m_oBob, m_oBob.as_friend(0xE40, true));
    EXPECT_TRUE(imported.sent && imported.received);
    EXPECT_FALSE(imported.sender_resumed || imported.receiver_resumed);
    ASSERT_TRUE(connect(m_oAlice, m_oBob, m_oBob.as_friend(0xE40, true)).receiver_resumed);

    // Alice re-keys: her sessions belong to her old key and Bob's pin of her is the old one.
    ASSERT_TRUE(m_oAlice.provider().generate_signature_key(1024));
    const outcome refused = connect(m_oAlice, m_oBob, m_oBob.as_friend(0xE40, true));
    EXPECT_FALSE(refused.received || refused.sender_resumed || refused.receiver_resumed);
    m_oBob.befriend(m_oAlice, 0xE40, true);
    const outcome renewed = connect(m_oAlice, m_oBob, m_oBob.as_friend(0xE40, true));
    EXPECT_TRUE(renewed.sent && renewed.received);
    EXPECT_FALSE(renewed.sender_resumed || renewed.receiver_resumed);
}

// A pair that another process replaced on disk is taken up once, and the ticket keys of the key it replaced go.
TEST_F(SessionResumption, APairReplacedOnDiskIsTakenUpOnceAndItsTicketKeysGo) {
    const rsa_key_ptr retired = m_oBob.provider().signature_key();
    tls_ticket_keys before{};
    tls_ticket_keys after{};
    ASSERT_TRUE(ticket_keys_for(retired->get(), before));
    cryptoapi::key_container files;
    cryptoapi::rsa_key made;
    ASSERT_TRUE(
        cryptoapi::key_container::open_in(m_oBob.home() + "/keys", crypto_provider::default_container_name, files));
    ASSERT_TRUE(files.generate_key(cryptoapi::key_pair_kind::signature, 1024, made));
    EXPECT_TRUE(m_oBob.provider().take_up_replaced_keys());
    EXPECT_FALSE(m_oBob.provider().take_up_replaced_keys()) << "an unchanged file was read again";
    EXPECT_EQ(EVP_PKEY_eq(m_oBob.provider().signature_key()->get(), made.get()), 1);
    ASSERT_TRUE(ticket_keys_for(retired->get(), after));
    EXPECT_NE(before, after) << "the retired key's ticket keys were kept";
}

} // namespace
} // namespace tiv
