#include <algorithm>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "crypto/negotiating_authentycryptor.h"
#include "crypto/rsa_authentycryptor.h"
#include "net/socket/socket_link.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/log_capture.h"
#include "support/socket_pair.h"
#include "support/test_identity.h"
#include "support/three_people.h"

namespace tiv {
namespace {

using test::test_identity;

class Negotiation : public test::three_people_test {
protected:
    // Alice sends to Bob: `sender` and `receiver` run on the two ends of one loopback connection.
    std::pair<bool, bool> exchange(authentycryptor& sender, authentycryptor& receiver,
                                   const friend_profile& destination, friend_profile* found = nullptr) {
        test::socket_pair pair = test::connect_loopback(3000);
        socket_link server_link(*pair.server);
        socket_link client_link(*pair.client);
        friend_profile scratch;
        friend_profile& filled = found != nullptr ? *found : scratch;
        // The receiving side closes its end once it is done, as a receiving thread does.
        auto receiving = std::async(std::launch::async, [&] {
            const bool accepted = receiver.AuthenticateAsReceiver(server_link, filled);
            ::shutdown(pair.server->handle, SHUT_WR);
            return accepted;
        });
        auto sending = std::async(std::launch::async, [&] {
            const bool accepted = sender.AuthenticateAsSender(client_link, destination);
            ::shutdown(pair.client->handle, SHUT_WR);
            return accepted;
        });
        const bool sent = sending.get();
        return {sent, receiving.get()};
    }

    test::log_capture m_oLog;
};

TEST_F(Negotiation, PinnedFriendsRunTlsAndTheStreamEndsOnlyWithCloseNotify) {
    s_pBob->befriend(*s_pAlice, 0xE40, true);
    negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    friend_profile found;
    const auto [sent, received] = exchange(sender, receiver, s_pBob->as_friend(0xE40, true), &found);
    ASSERT_TRUE(sent);
    ASSERT_TRUE(received);
    EXPECT_TRUE(sender.used_tls());
    EXPECT_TRUE(receiver.used_tls());
    EXPECT_EQ(sender.chosen_type(), 0x800U);
    EXPECT_STREQ(found.name, "Alice");
    EXPECT_TRUE(m_oLog.contains("R::Authenticating SUCCEEDED (TLS 1.3, TLS_AES_256_GCM_SHA384)"));

    const std::vector<std::uint8_t> record(264, 0x42);
    std::vector<std::uint8_t> wire;
    ASSERT_TRUE(sender.encrypt(record, true, wire));
    ASSERT_EQ(wire.size(), receiver.encrypted_length(264)) << "the receiver knows the record's length in advance";
    byte_buffer plain;
    ASSERT_TRUE(receiver.decrypt(wire, true, plain));
    EXPECT_THAT(plain, testing::ElementsAreArray(record));

    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> sent_data;
    for (std::size_t piece : {1U, 100U, 8192U, 20000U, 7U}) {
        std::vector<std::uint8_t> data(piece, static_cast<std::uint8_t>(piece));
        sent_data.insert(sent_data.end(), data.begin(), data.end());
        ASSERT_TRUE(sender.encrypt(data, false, stream));
    }
    const std::size_t before_close = stream.size();
    ASSERT_TRUE(sender.encrypt({}, true, stream));

    // A stream cut before its close_notify is a failure even though every byte before it decrypts.
    negotiating_authentycryptor& reader = receiver;
    byte_buffer received_data;
    for (std::size_t at = 0; at < before_close; at += 1000) {
        const std::size_t n = std::min<std::size_t>(1000, before_close - at);
        ASSERT_TRUE(reader.decrypt(std::span(stream).subspan(at, n), false, received_data));
    }
    EXPECT_THAT(received_data, testing::ElementsAreArray(sent_data));
    byte_buffer nothing;
    EXPECT_FALSE(reader.decrypt({}, true, nothing)) << "no close_notify yet";
    ASSERT_TRUE(reader.decrypt(std::span(stream).subspan(before_close), false, nothing));
    EXPECT_TRUE(reader.decrypt({}, true, nothing));
    EXPECT_TRUE(nothing.empty());
}

// A peer compares whole markers, each in its own slot, so what a version adds counts only when both sides
// announced it: both run the lower of the two versions.
TEST_F(Negotiation, EachVersionCountsOnlyWhenBothSidesAnnounceItOverTls) {
    using version = negotiating_authentycryptor::version;
    s_pBob->befriend(*s_pAlice, 0xE40, true);
    constexpr version all[] = {version::without_receipt, version::with_receipt, version::with_stream,
                               version::pipelined,       version::following,    version::conversing};
    for (const version alice : all) {
        for (const version bob : all) {
            negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings(), alice);
            negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings(), bob);
            const auto [sent, received] = exchange(sender, receiver, s_pBob->as_friend(0xE40, true));
            ASSERT_TRUE(sent && received);
            const version agreed = std::min(alice, bob);
            for (const negotiating_authentycryptor* side : {&sender, &receiver}) {
                EXPECT_EQ(side->carries_receipts(), agreed >= version::with_receipt);
                EXPECT_EQ(side->carries_parcel_stream(), agreed >= version::with_stream);
                EXPECT_EQ(side->carries_whereabouts(), agreed >= version::following);
                EXPECT_EQ(side->carries_conversation(), agreed >= version::conversing);
                EXPECT_EQ(side->carries_pipelining(), agreed >= version::pipelined)
                    << static_cast<int>(alice) << " to " << static_cast<int>(bob);
            }
        }
    }
}

TEST_F(Negotiation, AesTypeSelectsTheSuiteAndOtherTypesAreNoCommonCaps) {
    s_pBob->befriend(*s_pAlice, 0x240, true);
    {
        negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
        negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
        const auto [sent, received] = exchange(sender, receiver, s_pBob->as_friend(0xE40, true));
        EXPECT_TRUE(sent && received);
        EXPECT_EQ(receiver.chosen_type(), 0x200U) << "3DES is not offered to TLS";
        EXPECT_TRUE(m_oLog.contains("S::Authenticating SUCCEEDED (TLS 1.3, TLS_AES_128_GCM_SHA256)"));
    }
    s_pBob->befriend(*s_pAlice, 0x040, true);
    negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    const auto [sent, received] = exchange(sender, receiver, s_pBob->as_friend(0xE40, true));
    EXPECT_FALSE(sent);
    EXPECT_FALSE(received);
    EXPECT_EQ(sender.last_failure(), auth_failure::no_common_key_type);
    EXPECT_EQ(receiver.last_failure(), auth_failure::no_common_key_type);
    EXPECT_TRUE(m_oLog.contains("S::Authenticating FAILED->no mutually acceptable key types"));
    EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->no mutually acceptable key types"));
}

TEST_F(Negotiation, OldExchangeClaimingAPinnedFriendIsRefusedBeforeAnyBlock) {
    s_pBob->befriend(*s_pAlice, 0xE40, true);
    rsa_authentycryptor old_sender(s_pAlice->provider(), s_pAlice->settings());
    negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    const auto [sent, received] = exchange(old_sender, receiver, s_pBob->as_friend());
    EXPECT_FALSE(sent);
    EXPECT_FALSE(received);
    EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->[Alice] is pinned; the legacy exchange is refused"));
    EXPECT_EQ(m_oLog.count_starting_with("R::Authenticating FAILED->P2"), 0U) << "no block was unwrapped";
}

TEST_F(Negotiation, CertificateOfAnotherKeyIsRefused) {
    friend_profile forged = s_pAlice->as_friend(0xE40, true);
    forged.signature_key = s_pMallory->provider().signature_key_blob();
    ASSERT_TRUE(save_profile(s_pBob->settings(), forged));
    negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    const auto [sent, received] = exchange(sender, receiver, s_pBob->as_friend(0xE40, true));
    // The sender's side of the handshake ends before the receiver checks its certificate, and it sends at once: the
    // receiver's confirmation, which never comes, is what it still waits for.
    EXPECT_TRUE(!sent || sender.awaiting_peer_confirmation());
    EXPECT_FALSE(received);
    EXPECT_EQ(m_oLog.count_starting_with("R::Authenticating FAILED->TLS handshake"), 1U);
    EXPECT_NE(sender.last_failure(), auth_failure::peer_keys_changed) << "the receiver refused, not the sender";

    // The same from the sender's side: Bob's pin held by Alice is Mallory's key.
    s_pBob->befriend(*s_pAlice, 0xE40, true);
    friend_profile wrong_destination = s_pBob->as_friend(0xE40, true);
    wrong_destination.signature_key = s_pMallory->provider().signature_key_blob();
    negotiating_authentycryptor sender2(s_pAlice->provider(), s_pAlice->settings());
    negotiating_authentycryptor receiver2(s_pBob->provider(), s_pBob->settings());
    const auto [sent2, received2] = exchange(sender2, receiver2, wrong_destination);
    EXPECT_FALSE(sent2);
    EXPECT_FALSE(received2);
    EXPECT_EQ(m_oLog.count_starting_with("S::Authenticating FAILED->TLS handshake"), 1U);
    EXPECT_EQ(sender2.last_failure(), auth_failure::peer_keys_changed) << "what a friend who re-keyed looks like";
    EXPECT_NE(receiver2.last_failure(), auth_failure::peer_keys_changed);
}

TEST_F(Negotiation, UnpinnedFriendsKeepTheOldExchangeUnlessTheMachineRefusesIt) {
    s_pBob->befriend(*s_pAlice);
    {
        negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
        negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
        const auto [sent, received] = exchange(sender, receiver, s_pBob->as_friend());
        EXPECT_TRUE(sent && received);
        EXPECT_FALSE(sender.used_tls());
        EXPECT_TRUE(m_oLog.contains("R::Legacy exchange with [Alice]"));
    }
    {
        // An old program on either end still works with an unpinned friend.
        rsa_authentycryptor old_sender(s_pAlice->provider(), s_pAlice->settings());
        negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
        const auto [sent, received] = exchange(old_sender, receiver, s_pBob->as_friend());
        EXPECT_TRUE(sent && received);
        negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
        rsa_authentycryptor old_receiver(s_pBob->provider(), s_pBob->settings());
        const auto [sent2, received2] = exchange(sender, old_receiver, s_pBob->as_friend());
        EXPECT_TRUE(sent2 && received2) << "an old receiver's echo of the marker selects the old exchange";
    }
    ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::legacy_exchange, 0));
    negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    const auto [sent, received] = exchange(sender, receiver, s_pBob->as_friend());
    EXPECT_FALSE(sent);
    EXPECT_FALSE(received);
    EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->the legacy exchange is disabled on this machine"));
}

TEST_F(Negotiation, UnpinnedFriendWhoReKeyedIsToldApartFromOtherFailures) {
    s_pBob->befriend(*s_pAlice);
    // Alice still holds Bob's old exchange key: here, one Bob never had.
    friend_profile stale = s_pBob->as_friend();
    friend_profile other = s_pMallory->as_friend();
    stale.key = std::move(other.key);
    stale.key_bits = other.key_bits;
    stale.key_bytes = other.key_bytes;
    negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    const auto [sent, received] = exchange(sender, receiver, stale);
    EXPECT_FALSE(sent);
    EXPECT_FALSE(received);
    EXPECT_EQ(sender.last_failure(), auth_failure::exchange_refused);

    rsa_authentycryptor old_sender(s_pAlice->provider(), s_pAlice->settings());
    negotiating_authentycryptor receiver2(s_pBob->provider(), s_pBob->settings());
    EXPECT_FALSE(exchange(old_sender, receiver2, stale).first);
    EXPECT_EQ(old_sender.last_failure(), auth_failure::exchange_refused);

    // A receiver that does not know the sender refuses earlier, for another reason.
    rsa_authentycryptor stranger(s_pMallory->provider(), s_pMallory->settings());
    negotiating_authentycryptor receiver3(s_pBob->provider(), s_pBob->settings());
    EXPECT_FALSE(exchange(stranger, receiver3, s_pBob->as_friend()).first);
    EXPECT_EQ(stranger.last_failure(), auth_failure::no_common_key_type);
}

TEST_F(Negotiation, APinHeldOnOneSideOnlyRefusesTheOldExchange) {
    s_pBob->befriend(*s_pAlice); // Bob has no pin for Alice, but Alice pinned Bob
    negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    negotiating_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    const auto [sent, received] = exchange(sender, receiver, s_pBob->as_friend(0xE40, true));
    EXPECT_FALSE(sent);
    EXPECT_FALSE(received);
    EXPECT_TRUE(m_oLog.contains("S::Authenticating FAILED->[Bob] is pinned; the legacy exchange is refused"));
    EXPECT_EQ(sender.last_failure(), auth_failure::peer_unpinned);
}

} // namespace
} // namespace tiv
