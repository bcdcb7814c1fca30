#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "crypto/auth_records.h"
#include "crypto/negotiating_authentycryptor.h"
#include "crypto/rsa_authentycryptor.h"
#include "crypto/session_key_types.h"
#include "net/single_file/file_record.h"
#include "net/socket/socket_link.h"
#include "net/transfer/receipt_exchange.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "platform/crypto_backend/crypto_backend_simple_blob.h"
#include "platform/uuid.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

namespace tiv::test {
namespace {

namespace fs = std::filesystem;

// Alice and Bob both listen as real quorvel-cli processes; the test sends with quorvel-cli too, or plays an
// old-exchange peer itself.
class PinnedPeers : public peer_pair_test {
protected:
    static void SetUpTestSuite() {
        peer_pair_test::SetUpTestSuite();
        s_pMallory = new test_identity("Mallory");
    }
    static void TearDownTestSuite() {
        peer_pair_test::TearDownTestSuite();
        delete s_pMallory;
    }
    void SetUp() override {
        peer_pair_test::SetUp();
        fs::remove_all(s_pBob->home() + "/PBoxes/Alice");
        for (test_identity* person : {s_pAlice, s_pBob}) {
            ASSERT_TRUE(write_dword_setting(person->settings().machine_key(), names::legacy_exchange, 1));
            for (const std::string& name : list_profiles(person->settings())) {
                ASSERT_TRUE(delete_profile(person->settings(), name));
            }
        }
    }
    void TearDown() override {
        m_aListeners.clear();
        peer_pair_test::TearDown();
    }

    // Each knows the other, pinned or not; Bob accepts parcels from Alice.
    static void befriend(bool pinned, std::uint32_t types = all_session_key_types) {
        friend_profile alice = s_pAlice->as_friend(types, pinned);
        alice.receipt_enabled = 1;
        ASSERT_TRUE(save_profile(s_pBob->settings(), alice));
        friend_profile bob = s_pBob->as_friend(types, pinned);
        bob.receipt_enabled = 1;
        ASSERT_TRUE(save_profile(s_pAlice->settings(), bob));
    }

    int listen(test_identity& person) {
        const int port = free_loopback_port();
        EXPECT_NE(port, 0);
        EXPECT_TRUE(write_dword_setting(person.settings().machine_key(), names::interface_ip_port,
                                        static_cast<std::uint32_t>(port)));
        m_aListeners.push_back(
            std::make_unique<peer_process>(person.home(), std::vector<std::string>{"listen"},
                                           m_strWork + "/listen-" + std::to_string(m_aListeners.size()) + ".out"));
        EXPECT_TRUE(m_aListeners.back()->wait_for_output("Listening on 127.0.0.1:" + std::to_string(port), 15000));
        return port;
    }

    int send(test_identity& from, const char* to, int port, const std::vector<std::string>& files) {
        std::vector<std::string> args = {"send", to};
        args.insert(args.end(), files.begin(), files.end());
        args.push_back("--to=127.0.0.1:" + std::to_string(port));
        return run(from, args);
    }

    // Any command; its output is kept as a send's.
    int run(test_identity& from, const std::vector<std::string>& args) {
        peer_process sending(from.home(), args, m_strWork + "/send-" + std::to_string(++m_nSends) + ".out");
        const int code = sending.wait(60000);
        m_strLastSend = sending.output();
        return code;
    }

    std::string file(const std::string& name, std::size_t size) {
        const std::string path = m_strWork + "/" + name;
        write_random_file(path, size);
        return path;
    }

    static std::string box_of(test_identity& receiver, const char* sender) {
        return receiver.home() + "/PBoxes/" + sender;
    }
    static bool box_is_empty(test_identity& receiver, const char* sender) {
        std::error_code ignored;
        return fs::is_empty(box_of(receiver, sender), ignored) || !fs::exists(box_of(receiver, sender));
    }

    static test_identity* s_pMallory;
    std::vector<std::unique_ptr<peer_process>> m_aListeners;
    std::string m_strLastSend;
    int m_nSends = 0;
};

test_identity* PinnedPeers::s_pMallory = nullptr;

TEST_F(PinnedPeers, EveryAesTypeAndEdgeSizeArrivesOverTls) {
    const int port = listen(*s_pBob);
    const std::vector<std::size_t> sizes = {0, 1, 15, 16, 17, 8191, 8192, 8193, 16384, 16385, (1U << 20) + 7};
    for (const std::uint32_t type : {0x200U, 0x400U, 0x800U}) {
        befriend(true, type);
        std::vector<std::string> files;
        for (const std::size_t size : sizes) {
            files.push_back(file("t" + std::to_string(type) + "-" + std::to_string(size), size));
        }
        ASSERT_EQ(send(*s_pAlice, "Bob", port, files), 0) << m_strLastSend;
        for (const std::string& sent : files) {
            EXPECT_EQ(file_sha256(box_of(*s_pBob, "Alice") + "/" + fs::path(sent).filename().string()),
                      file_sha256(sent))
                << sent;
        }
    }
    EXPECT_NE(m_aListeners[0]->output().find("R::Authenticating SUCCEEDED (TLS 1.3, TLS_AES_128_GCM_SHA256)"),
              std::string::npos);
    EXPECT_NE(m_aListeners[0]->output().find("R::Authenticating SUCCEEDED (TLS 1.3, TLS_AES_256_GCM_SHA384)"),
              std::string::npos);
    EXPECT_EQ(m_aListeners[0]->output().find("Legacy exchange"), std::string::npos);
}

TEST_F(PinnedPeers, AnotherKeysCertificateAndTheDisabledLegacyExchangeAreRefused) {
    const int port = listen(*s_pBob);
    const std::string parcel = file("refused.bin", 3000);

    befriend(true);
    friend_profile forged = s_pAlice->as_friend(all_session_key_types, true);
    forged.signature_key = s_pMallory->provider().signature_key_blob();
    forged.receipt_enabled = 1;
    ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice")); // a stored pin is never replaced by saving
    ASSERT_TRUE(save_profile(s_pBob->settings(), forged));
    EXPECT_EQ(send(*s_pAlice, "Bob", port, {parcel}), 1);
    // The sender may end before the listener has written its line: wait for it.
    EXPECT_TRUE(m_aListeners[0]->wait_for_output("R::Authenticating FAILED->TLS handshake", 10000));
    EXPECT_EQ(m_strLastSend.find("keys do not match"), std::string::npos) << "Bob refused Alice, not the reverse";
    // Alice's file went out before Bob's refusal could come back; the refusal is still what she is told.
    EXPECT_NE(m_strLastSend.find("(Bob refused the exchange: if Bob's keys changed, import Bob's new profile)"),
              std::string::npos)
        << m_strLastSend;

    // Alice's pin for Bob is a key Bob no longer proves, as after Bob re-keyed: the sender says what to do.
    ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice"));
    befriend(true);
    friend_profile old_bob = s_pBob->as_friend(all_session_key_types, true);
    old_bob.signature_key = s_pMallory->provider().signature_key_blob();
    old_bob.receipt_enabled = 1;
    ASSERT_TRUE(delete_profile(s_pAlice->settings(), "Bob"));
    ASSERT_TRUE(save_profile(s_pAlice->settings(), old_bob));
    EXPECT_EQ(send(*s_pAlice, "Bob", port, {parcel}), 1);
    EXPECT_NE(m_strLastSend.find("(Bob's keys do not match the profile you hold: import Bob's new profile)"),
              std::string::npos)
        << m_strLastSend;
    ASSERT_TRUE(delete_profile(s_pAlice->settings(), "Bob"));

    befriend(false);
    ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice"));
    befriend(false);
    // Unpinned, Alice holds an exchange key Bob no longer has: the old exchange says so in its own words.
    friend_profile stale_bob = s_pBob->as_friend(all_session_key_types);
    friend_profile other = s_pMallory->as_friend();
    stale_bob.key = std::move(other.key);
    stale_bob.key_bits = other.key_bits;
    stale_bob.key_bytes = other.key_bytes;
    ASSERT_TRUE(delete_profile(s_pAlice->settings(), "Bob"));
    ASSERT_TRUE(save_profile(s_pAlice->settings(), stale_bob));
    EXPECT_EQ(send(*s_pAlice, "Bob", port, {parcel}), 1);
    EXPECT_NE(m_strLastSend.find("(Bob refused the exchange: if Bob's keys changed, import Bob's new profile)"),
              std::string::npos)
        << m_strLastSend;
    ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::legacy_exchange, 0));
    EXPECT_EQ(send(*s_pAlice, "Bob", port, {parcel}), 1);
    EXPECT_TRUE(m_aListeners[0]->wait_for_output("R::Authenticating FAILED->the legacy exchange is disabled", 10000));
    EXPECT_TRUE(box_is_empty(*s_pBob, "Alice"));
}

TEST_F(PinnedPeers, UnpinnedFriendsStillUseTheOldExchangeBothWays) {
    befriend(false);
    const int bob_port = listen(*s_pBob);
    const int alice_port = listen(*s_pAlice);
    const std::string to_bob = file("to-bob.bin", 70000);
    const std::string to_alice = file("to-alice.bin", 50001);
    ASSERT_EQ(send(*s_pAlice, "Bob", bob_port, {to_bob}), 0) << m_strLastSend;
    ASSERT_EQ(send(*s_pBob, "Alice", alice_port, {to_alice}), 0) << m_strLastSend;
    EXPECT_EQ(file_sha256(box_of(*s_pBob, "Alice") + "/to-bob.bin"), file_sha256(to_bob));
    EXPECT_EQ(file_sha256(box_of(*s_pAlice, "Bob") + "/to-alice.bin"), file_sha256(to_alice));
    EXPECT_NE(m_aListeners[0]->output().find("R::Legacy exchange with [Alice]"), std::string::npos);
}

// Alice's own program would never send such a name; a modified one could. It lands inside Alice's parcel box.
TEST_F(PinnedPeers, ClimbingFileNameLandsInsideTheParcelBox) {
    befriend(true);
    const int port = listen(*s_pBob);
    net_address destination{};
    net_socket connection;
    ASSERT_TRUE(resolve_address("127.0.0.1", static_cast<std::uint16_t>(port), destination));
    ASSERT_TRUE(open_tcp_socket(connection) && connect_socket(connection, destination));
    ASSERT_TRUE(set_receive_timeout(connection, 10000));
    negotiating_authentycryptor sender(s_pAlice->provider(), s_pAlice->settings());
    socket_link link(connection);
    ASSERT_TRUE(sender.AuthenticateAsSender(link, s_pBob->as_friend(all_session_key_types, true)));

    file_record record;
    record.set_name("../../x");
    const std::vector<std::uint8_t> content(1000, 'x');
    record.file_size = static_cast<std::uint32_t>(content.size());
    std::vector<std::uint8_t> wire;
    ASSERT_TRUE(sender.encrypt(record.encode(), true, wire));
    ASSERT_TRUE(sender.encrypt(content, false, wire));
    ASSERT_TRUE(sender.encrypt({}, true, wire));
    ASSERT_TRUE(send_all(connection, wire.data(), static_cast<int>(wire.size())));
    ::shutdown(connection.handle, SHUT_WR);
    receipt_reader verdict(sender);
    ASSERT_EQ(await_answer(connection, &verdict, 10000), peer_answer::answered);
    EXPECT_TRUE(verdict.receipt()->stored()) << "the receiver answers once it stored the file";

    const std::string landed = box_of(*s_pBob, "Alice") + "/x";
    ASSERT_TRUE(wait_for([&] { return fs::exists(landed); }, std::chrono::seconds(10))) << m_aListeners[0]->output();
    EXPECT_EQ(fs::file_size(landed), content.size());
    EXPECT_FALSE(fs::exists(s_pBob->home() + "/x"));
    EXPECT_FALSE(fs::exists(s_pBob->home() + "/PBoxes/x"));
}

// Plays a peer of the old exchange by hand, so its records can be shaped.
class old_exchange_peer {
public:
    explicit old_exchange_peer(int port) {
        net_address destination{};
        if (!resolve_address("127.0.0.1", static_cast<std::uint16_t>(port), destination) ||
            !open_tcp_socket(m_oSocket) || !connect_socket(m_oSocket, destination) ||
            !set_receive_timeout(m_oSocket, 10000)) {
            throw std::runtime_error("cannot reach the listener");
        }
    }
    ~old_exchange_peer() { ::shutdown(m_oSocket.handle, SHUT_RDWR); }

    // Claims `claimed` and offers exactly `types`; the answer's key types, or none when refused.
    std::optional<std::uint32_t> capabilities(const std::string& claimed, std::uint32_t types) {
        auth::cap_record cap;
        cap.key_types = types;
        cap.user_uuid = uuid_to_guid_bytes(*uuid_from_text(claimed));
        const auto bytes = cap.encode();
        auth::cap_bytes answer{};
        if (!send_all(m_oSocket, bytes.data(), static_cast<int>(bytes.size())) ||
            !receive_all(m_oSocket, static_cast<int>(answer.size()), answer.data())) {
            return std::nullopt;
        }
        return auth::cap_record::decode(answer).key_types;
    }
    bool send_pass(const auth::pass_record& pass) {
        const auto bytes = pass.encode();
        return send_all(m_oSocket, bytes.data(), static_cast<int>(bytes.size())).ok();
    }
    std::optional<auth::pass_record> receive_pass() {
        auth::pass_bytes bytes{};
        if (!receive_all(m_oSocket, static_cast<int>(bytes.size()), bytes.data())) {
            return std::nullopt;
        }
        return auth::pass_record::decode(bytes);
    }
    bool send_bytes(const std::vector<std::uint8_t>& bytes) {
        return send_all(m_oSocket, bytes.data(), static_cast<int>(bytes.size())).ok();
    }
    void half_close() { ::shutdown(m_oSocket.handle, SHUT_WR); }

private:
    net_socket m_oSocket;
};

auth::key_block block_of(std::uint32_t type, const std::vector<std::uint8_t>& blob) {
    auth::key_block block;
    block.type_index = static_cast<std::uint16_t>(key_type_index(type));
    block.key_bits = key_type_bits(type);
    block.blob_length = static_cast<std::uint16_t>(blob.size());
    std::copy(blob.begin(), blob.end(), block.blob.begin());
    return block;
}

// A stranger holding nothing but Alice's and Bob's public profiles makes Bob store a parcel "from Alice": Bob's
// proof key, wrapped for Alice, is unwrapped and re-wrapped for Bob by Alice's own listener. Returns whether
// Bob's listener accepted the forged parcel's exchange.
bool play_attack_a(int bob_port, int alice_port, const std::string& alice_uuid, const std::string& bob_uuid,
                   const std::vector<std::uint8_t>& bob_exchange_blob) {
    constexpr std::uint32_t type = 0x800;
    old_exchange_peer to_bob(bob_port);
    if (to_bob.capabilities(alice_uuid, type) != type) {
        return false; // refused at once: nothing of the old exchange is run
    }
    cryptoapi::rsa_key bob_key;
    cryptoapi::session_key chosen;
    std::vector<std::uint8_t> wrapped;
    if (!cryptoapi::import_public_key_blob(bob_exchange_blob, bob_key) ||
        !cryptoapi::session_key::generate(key_type_algorithm(type), key_type_bits(type), chosen) ||
        !cryptoapi::wrap_simple_blob(chosen, bob_key, wrapped)) {
        return false;
    }
    auth::pass_record pass1;
    pass1.pass = 1;
    pass1.a = block_of(type, wrapped);
    if (!to_bob.send_pass(pass1)) {
        return false;
    }
    const auto bob_pass2 = to_bob.receive_pass();
    if (!bob_pass2) {
        return false;
    }
    // Alice's listener unwraps Bob's proof key (block B, wrapped for Alice) and wraps it again for Bob.
    old_exchange_peer to_alice(alice_port);
    if (to_alice.capabilities(bob_uuid, type) != type) {
        return false;
    }
    auth::pass_record oracle_pass1;
    oracle_pass1.pass = 1;
    oracle_pass1.a = bob_pass2->b;
    const auto alice_pass2 = to_alice.send_pass(oracle_pass1) ? to_alice.receive_pass() : std::nullopt;
    if (!alice_pass2) {
        return false;
    }
    auth::pass_record pass3;
    pass3.pass = 3;
    pass3.b = alice_pass2->a;
    if (!to_bob.send_pass(pass3)) {
        return false;
    }
    // Bob now holds the stranger's session key: send a parcel under it as a sender would.
    file_record record;
    record.set_name("forged.txt");
    const std::vector<std::uint8_t> content = {'p', 'w', 'n', 'e', 'd'};
    record.file_size = static_cast<std::uint32_t>(content.size());
    std::vector<std::uint8_t> wire;
    const auto header = record.encode();
    if (!chosen.encrypt(header, true, wire) || !chosen.encrypt(content, true, wire)) {
        return false;
    }
    const bool sent = to_bob.send_bytes(wire);
    to_bob.half_close();
    return sent;
}

TEST_F(PinnedPeers, AttackThroughAFriendsListenerFindsNothingWithPins) {
    befriend(true);
    const int bob_port = listen(*s_pBob);
    const int alice_port = listen(*s_pAlice);
    EXPECT_FALSE(
        play_attack_a(bob_port, alice_port, s_pAlice->uuid(), s_pBob->uuid(), s_pBob->provider().exchange_key_blob()));
    ASSERT_TRUE(m_aListeners[0]->wait_for_output("is pinned; the legacy exchange is refused", 10000));
    EXPECT_EQ(m_aListeners[0]->output().find("R::Authenticating FAILED->P2"), std::string::npos);
    EXPECT_TRUE(box_is_empty(*s_pBob, "Alice"));
}

// Documents the weakness the pins close: with unpinned friends the old exchange can still be turned this way.
TEST_F(PinnedPeers, AttackThroughAFriendsListenerStillWorksWithoutPins) {
    befriend(false);
    const int bob_port = listen(*s_pBob);
    const int alice_port = listen(*s_pAlice);
    EXPECT_TRUE(
        play_attack_a(bob_port, alice_port, s_pAlice->uuid(), s_pBob->uuid(), s_pBob->provider().exchange_key_blob()));
    const std::string forged = box_of(*s_pBob, "Alice") + "/forged.txt";
    EXPECT_TRUE(wait_for([&] { return fs::exists(forged); }, std::chrono::seconds(10))) << m_aListeners[0]->output();
}

// Check Login and a message between two programs: Bob's listener answers each in one log line and prints the
// message; once it is gone, nothing runs there.
TEST_F(PinnedPeers, LoginChecksAndMessagesReachTheListeningProgram) {
    befriend(true);
    const int port = listen(*s_pBob);
    friend_profile bob = s_pBob->as_friend(all_session_key_types, true);
    bob.port = port;
    ASSERT_TRUE(save_profile(s_pAlice->settings(), bob));

    EXPECT_EQ(run(*s_pAlice, {"ping", "--login", "Bob"}), 0) << m_strLastSend;
    EXPECT_NE(m_strLastSend.find("Bob: online (program answered in "), std::string::npos) << m_strLastSend;
    EXPECT_EQ(run(*s_pAlice, {"message", "Bob", "hello Bob"}), 0) << m_strLastSend;
    EXPECT_NE(m_strLastSend.find("Bob: delivered\n"), std::string::npos) << m_strLastSend;
    ASSERT_TRUE(m_aListeners[0]->wait_for_output("  hello Bob\n", 10000)) << m_aListeners[0]->output();
    const std::string log = m_aListeners[0]->output();
    EXPECT_NE(log.find("Message from Alice at "), std::string::npos);
    EXPECT_NE(log.find("R::Login check from [Alice] at 127.0.0.1:"), std::string::npos) << log;
    EXPECT_EQ(log.find("R::Authenticating"), std::string::npos) << "one line each: " << log;

    m_aListeners.clear();
    EXPECT_EQ(run(*s_pAlice, {"ping", "--login", "Bob"}), 1);
    EXPECT_NE(m_strLastSend.find("Bob: not running (connection refused)\n"), std::string::npos) << m_strLastSend;
}

// Each send is a process of its own: the second resumes with the session the first saved in Alice's key directory.
TEST_F(PinnedPeers, TheNextSendResumesWithTheSessionSavedOnDisk) {
    const int port = listen(*s_pBob);
    befriend(true);
    const std::string first = file("first.bin", 1000);
    const std::string second = file("second.bin", 1000);
    ASSERT_EQ(send(*s_pAlice, "Bob", port, {first}), 0) << m_strLastSend;
    ASSERT_EQ(send(*s_pAlice, "Bob", port, {second}), 0) << m_strLastSend;
    ASSERT_TRUE(m_aListeners[0]->wait_for_output("R::TLS session resumed", 10000)) << m_aListeners[0]->output();
    const std::string log = m_aListeners[0]->output();
    EXPECT_EQ(log.find("R::TLS session resumed"), log.rfind("R::TLS session resumed")) << "the first was in full";
    EXPECT_EQ(file_sha256(box_of(*s_pBob, "Alice") + "/second.bin"), file_sha256(second));
}

} // namespace
} // namespace tiv::test
