#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "crypto/auth_records.h"
#include "crypto/rsa_authentycryptor.h"
#include "net/socket/socket_link.h"
#include "platform/uuid.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/log_capture.h"
#include "support/socket_pair.h"
#include "support/test_identity.h"
#include "support/three_people.h"

namespace tiv {
namespace {

using test::test_identity;

class Authentication : public test::three_people_test {
protected:
    struct outcome {
        bool sender = false;
        bool receiver = false;
        friend_profile found;
    };

    // Alice sends to Bob over loopback; both sides run the real exchange, each on a thread of its own as the
    // transfers do.
    outcome exchange(rsa_authentycryptor& sender, rsa_authentycryptor& receiver, const friend_profile& destination) {
        test::socket_pair pair = test::connect_loopback();
        socket_link server_link(*pair.server);
        socket_link client_link(*pair.client);
        outcome result;
        auto receiving =
            std::async(std::launch::async, [&] { return receiver.AuthenticateAsReceiver(server_link, result.found); });
        auto sending =
            std::async(std::launch::async, [&] { return sender.AuthenticateAsSender(client_link, destination); });
        result.sender = sending.get();
        result.receiver = receiving.get();
        return result;
    }

    test::log_capture m_oLog;
};

TEST_F(Authentication, AgreeOnTheHighestCommonTypeAndShareTheKey) {
    s_pAlice->befriend(*s_pBob);
    s_pBob->befriend(*s_pAlice, 0x140); // Bob accepts only RC4 128 and 3DES 168 from Alice
    rsa_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    rsa_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    EXPECT_EQ(sender.block_allowance(), 1) << "a fresh instance";

    const outcome result = exchange(sender, receiver, s_pBob->as_friend());
    ASSERT_TRUE(result.sender);
    ASSERT_TRUE(result.receiver);
    EXPECT_STREQ(result.found.name, "Alice");
    EXPECT_EQ(sender.chosen_type(), 0x040U) << "RC4 128 is not in Alice's policy 0xE40";
    EXPECT_EQ(receiver.chosen_type(), 0x040U);
    EXPECT_EQ(sender.block_allowance(), 64);
    EXPECT_EQ(receiver.block_allowance(), 64);
    EXPECT_TRUE(m_oLog.contains("S::Key type chosen: [3DES (CBC) 168 bit]"));
    EXPECT_TRUE(m_oLog.contains("S::Authenticating SUCCEEDED"));
    EXPECT_TRUE(m_oLog.contains("R::Authenticating SUCCEEDED"));
    EXPECT_EQ(sender.last_failure(), auth_failure::none);

    // The file record as one complete message, then a stream of pieces.
    std::vector<std::uint8_t> record(264, 0x5A);
    std::vector<std::uint8_t> sealed;
    ASSERT_TRUE(sender.encrypt(record, true, sealed));
    EXPECT_EQ(sealed.size(), receiver.encrypted_length(264));
    byte_buffer opened;
    ASSERT_TRUE(receiver.decrypt(sealed, true, opened));
    EXPECT_THAT(opened, testing::ElementsAreArray(record));

    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> plain;
    for (std::size_t piece : {1U, 7U, 8U, 100U, 4096U, 3U}) {
        std::vector<std::uint8_t> data(piece, static_cast<std::uint8_t>(piece));
        plain.insert(plain.end(), data.begin(), data.end());
        ASSERT_TRUE(sender.encrypt(data, false, stream));
    }
    ASSERT_TRUE(sender.encrypt({}, true, stream));
    byte_buffer received;
    for (std::size_t at = 0; at < stream.size(); at += 13) {
        const std::size_t n = std::min<std::size_t>(13, stream.size() - at);
        ASSERT_TRUE(receiver.decrypt(std::span(stream).subspan(at, n), false, received));
    }
    ASSERT_TRUE(receiver.decrypt({}, true, received));
    EXPECT_THAT(received, testing::ElementsAreArray(plain));
}

TEST_F(Authentication, NoCommonTypeFailsBothSidesAfterAllFourRecords) {
    s_pBob->befriend(*s_pAlice, 0x001);
    rsa_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    rsa_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    const outcome result = exchange(sender, receiver, s_pBob->as_friend());
    EXPECT_FALSE(result.sender);
    EXPECT_FALSE(result.receiver);
    EXPECT_TRUE(m_oLog.contains("S::Authenticating FAILED->no mutually acceptable key types"));
    EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->no mutually acceptable key types"));
    EXPECT_EQ(m_oLog.count_starting_with("S::Authenticating FAILED->bad"), 0U) << "every record crossed";
    EXPECT_EQ(m_oLog.count_starting_with("R::Authenticating FAILED->bad"), 0U);
    EXPECT_EQ(sender.last_failure(), auth_failure::no_common_key_type);
    EXPECT_EQ(receiver.last_failure(), auth_failure::no_common_key_type);

    // The reason belongs to the last authentication only.
    s_pBob->befriend(*s_pAlice);
    const outcome again = exchange(sender, receiver, s_pBob->as_friend());
    EXPECT_TRUE(again.sender && again.receiver);
    EXPECT_EQ(sender.last_failure(), auth_failure::none);
}

TEST_F(Authentication, UnknownSenderIsRefused) {
    rsa_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    rsa_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    const outcome result = exchange(sender, receiver, s_pBob->as_friend());
    EXPECT_FALSE(result.sender);
    EXPECT_FALSE(result.receiver);
    EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->profile retrieval"));
    EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->importing public key"));
    EXPECT_EQ(sender.last_failure(), auth_failure::no_common_key_type) << "a stranger is allowed no key type";
    EXPECT_EQ(receiver.last_failure(), auth_failure::no_common_key_type);
    EXPECT_STREQ(result.found.name, "");
    EXPECT_EQ(result.found.key_bytes, 0);
}

TEST_F(Authentication, SenderWithoutTheMatchingPrivateKeyFails) {
    // Bob has Alice's UUID on file with Mallory's key: the one holding Alice's UUID cannot prove it.
    friend_profile forged = s_pAlice->as_friend();
    const friend_profile mallory = s_pMallory->as_friend();
    forged.key = mallory.key;
    forged.key_bytes = mallory.key_bytes;
    ASSERT_TRUE(save_profile(s_pBob->settings(), forged));
    rsa_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    rsa_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    const outcome result = exchange(sender, receiver, s_pBob->as_friend());
    EXPECT_FALSE(result.sender);
    EXPECT_FALSE(result.receiver);
    EXPECT_TRUE(m_oLog.contains("S::Authenticating FAILED->P2::import sender key"));
    EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->key comparison"));
    EXPECT_EQ(sender.last_failure(), auth_failure::unexplained) << "the log says why, the user needs no more";
}

// Plays the sender by hand so the records can be shaped.
class RawSender {
public:
    explicit RawSender(net_socket& socket) : m_oSocket(socket) {}
    bool send_cap(const uuid_value& id, std::uint32_t offer) {
        auth::cap_record cap;
        cap.key_types = offer;
        cap.user_uuid = uuid_to_guid_bytes(id);
        const auto bytes = cap.encode();
        return send_all(m_oSocket, bytes.data(), static_cast<int>(bytes.size())).ok();
    }
    template <std::size_t N> bool receive(std::array<std::uint8_t, N>& bytes) {
        return receive_all(m_oSocket, static_cast<int>(N), bytes.data()).ok();
    }
    template <std::size_t N> bool send(const std::array<std::uint8_t, N>& bytes) {
        return send_all(m_oSocket, bytes.data(), static_cast<int>(N)).ok();
    }

private:
    net_socket& m_oSocket;
};

TEST_F(Authentication, CapabilityRecordAndPassTwoBytes) {
    ASSERT_TRUE(
        write_text_setting(s_pAlice->settings().user_key(), names::user_uuid, "00112233-4455-6677-8899-AABBCCDDEEFF"));
    s_pAlice->settings().load_settings();
    s_pBob->befriend(*s_pAlice);

    // What Alice's sender puts on the wire first.
    {
        test::socket_pair pair = test::connect_loopback(2000);
        socket_link server_link(*pair.server);
        socket_link client_link(*pair.client);
        rsa_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
        auto sending = std::async(std::launch::async,
                                  [&] { return sender.AuthenticateAsSender(client_link, s_pBob->as_friend()); });
        auth::cap_bytes cap{};
        ASSERT_TRUE(receive_all(*pair.server, static_cast<int>(cap.size()), cap.data()));
        const std::array<std::uint8_t, 8> start = {0x00, 0x00, 0x98, 0x00, 0x40, 0x0E, 0x00, 0x00};
        EXPECT_TRUE(std::equal(start.begin(), start.end(), cap.begin()));
        const std::array<std::uint8_t, 16> guid = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                                   0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
        EXPECT_TRUE(std::equal(guid.begin(), guid.end(), cap.end() - 16));
        close_socket(*pair.server);
        EXPECT_FALSE(sending.get());
    }
    // What Bob's receiver answers in ARPass2.
    {
        test::socket_pair pair = test::connect_loopback(2000);
        socket_link server_link(*pair.server);
        socket_link client_link(*pair.client);
        rsa_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
        friend_profile found;
        auto receiving =
            std::async(std::launch::async, [&] { return receiver.AuthenticateAsReceiver(server_link, found); });
        RawSender raw(*pair.client);
        ASSERT_TRUE(raw.send_cap(*uuid_from_text("00112233-4455-6677-8899-aabbccddeeff"), 0xE40));
        auth::cap_bytes answer{};
        ASSERT_TRUE(raw.receive(answer));
        EXPECT_EQ(auth::cap_record::decode(answer).key_types, 0x800U);

        ASSERT_TRUE(raw.send(auth::pass_record{}.encode()));
        auth::pass_bytes pass2{};
        ASSERT_TRUE(raw.receive(pass2));
        EXPECT_EQ(pass2[0], 0x02);
        EXPECT_EQ(pass2[1], 0x00);
        EXPECT_EQ(pass2[2], 0x10);
        EXPECT_EQ(pass2[3], 0x14);
        EXPECT_EQ(pass2[auth::block_b_offset], 11) << "block B carries AES 256's index";
        EXPECT_EQ(auth::pass_record::decode(pass2).b.key_bits, 256);

        // Handing Bob's own wrapped key back proves nothing.
        auth::pass_record pass3;
        pass3.pass = 3;
        pass3.b = auth::pass_record::decode(pass2).b;
        ASSERT_TRUE(raw.send(pass3.encode()));
        EXPECT_FALSE(receiving.get());
        EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->key comparison"));
    }
}

TEST_F(Authentication, SessionKeyOfAnotherTypeThanAgreedIsRefused) {
    s_pBob->befriend(*s_pAlice);
    test::socket_pair pair = test::connect_loopback(2000);
    socket_link server_link(*pair.server);
    rsa_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
    friend_profile found;
    auto receiving =
        std::async(std::launch::async, [&] { return receiver.AuthenticateAsReceiver(server_link, found); });
    RawSender raw(*pair.client);
    ASSERT_TRUE(raw.send_cap(*uuid_from_text(s_pAlice->settings().text(text_setting::user_uuid)), 0xE40));
    auth::cap_bytes answer{};
    ASSERT_TRUE(raw.receive(answer));
    ASSERT_EQ(auth::cap_record::decode(answer).key_types, 0x800U);

    // An AES 192 key, properly wrapped for Bob, in a block whose header claims the agreed AES 256.
    rsa_authentycryptor alice(s_pAlice->provider(), s_pAlice->settings());
    const rsa_key_ptr bob_key = alice.import_profile_key(s_pBob->as_friend());
    const session_key_or other = s_pAlice->provider().generate_session_key(0x400);
    ASSERT_TRUE(bob_key != nullptr && other.ok());
    std::vector<std::uint8_t> blob;
    ASSERT_TRUE(s_pAlice->provider().export_session_key(*other.value(), *bob_key, blob));
    auth::pass_record pass1;
    pass1.pass = 1;
    pass1.a.type_index = 11;
    pass1.a.key_bits = 256;
    pass1.a.blob_length = static_cast<std::uint16_t>(blob.size());
    std::copy(blob.begin(), blob.end(), pass1.a.blob.begin());
    ASSERT_TRUE(raw.send(pass1.encode()));
    auth::pass_bytes pass2{};
    ASSERT_TRUE(raw.receive(pass2));
    ASSERT_TRUE(raw.send(auth::pass_record{}.encode()));
    EXPECT_FALSE(receiving.get());
    EXPECT_TRUE(
        m_oLog.contains("R::Authenticating FAILED->session key type differs from the agreed [AES (CBC)  256 bit]"));
    EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->P2::importing m_oSenderKey"));
}

TEST_F(Authentication, RecordCutShortAndPeerClosingMidway) {
    s_pBob->befriend(*s_pAlice);
    {
        test::socket_pair pair = test::connect_loopback(2000);
        socket_link server_link(*pair.server);
        socket_link client_link(*pair.client);
        rsa_authentycryptor receiver(s_pBob->provider(), s_pBob->settings());
        friend_profile found;
        auto receiving =
            std::async(std::launch::async, [&] { return receiver.AuthenticateAsReceiver(server_link, found); });
        const std::array<std::uint8_t, 100> part{};
        ASSERT_TRUE(send_all(*pair.client, part.data(), 100));
        close_socket(*pair.client);
        EXPECT_FALSE(receiving.get());
        EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->bad recv oSessionKeyCapRecord record length (-1/152)"));
        EXPECT_TRUE(m_oLog.contains("R::Authenticating FAILED->bad ARPass3 record length"));
    }
    {
        test::socket_pair pair = test::connect_loopback(2000);
        socket_link server_link(*pair.server);
        socket_link client_link(*pair.client);
        rsa_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
        auto sending = std::async(std::launch::async,
                                  [&] { return sender.AuthenticateAsSender(client_link, s_pBob->as_friend()); });
        auth::cap_bytes cap{};
        ASSERT_TRUE(receive_all(*pair.server, 152, cap.data()));
        ASSERT_TRUE(send_all(*pair.server, cap.data(), 152));
        close_socket(*pair.server);
        EXPECT_FALSE(sending.get());
        EXPECT_TRUE(m_oLog.contains("S::Authenticating FAILED->bad ARPass2 record length"));
    }
}

} // namespace
} // namespace tiv
