#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/rsa_authentycryptor.h"
#include "crypto/session_key_types.h"
#include "net/transfer/incoming_connection_handler.h"
#include "net/transfer/outgoing_connection_handler.h"
#include "settings/friend_profile.h"
#include "support/log_capture.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

namespace tiv::test {

// Alice sends, Bob receives, over 127.0.0.1 with real keys; every key type this machine offers is allowed.
class transfer_test : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Bob stores Alice with this policy.
    void bob_accepts_alice(std::uint32_t types = default_key_type_mask_for_tests, std::int32_t receipt = 1,
                           std::uint32_t max_size = unlimited, std::uint32_t max_count = unlimited);
    // Bob's listener on 127.0.0.1, kernel-chosen port, writing what it receives through `files`.
    incoming_connection_handler& listen(int io_block_size = 2048, std::size_t max_receiving = 64,
                                        std::shared_ptr<file_writer> files = shared_real_file_writer());
    // Alice's handler for Bob.
    outgoing_connection_handler& sender();
    std::shared_ptr<socket_thread> send_file(const std::string& path, int io_block_size = 2048);

    // Where Bob stores Alice's parcels.
    [[nodiscard]] std::string alice_box() const;
    [[nodiscard]] std::string source_dir() const { return m_strSource; }
    std::string make_file(const std::string& name, std::size_t size, unsigned seed = 1);
    [[nodiscard]] static std::string read_all(const std::string& path);
    // Every file name in a directory (empty when it does not exist).
    [[nodiscard]] static std::vector<std::string> names_in(const std::string& directory);
    // The listener's i-th transfer as it is now; an i past the end fails the test.
    [[nodiscard]] transfer_view received(std::size_t i) const;
    // Waits until the listener's list holds n transfers and all have finished.
    bool wait_received(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool wait_sent(std::chrono::milliseconds timeout = std::chrono::seconds(30));

    static constexpr std::uint32_t default_key_type_mask_for_tests = 0xE40;

    static test_identity* s_pAlice;
    static test_identity* s_pBob;
    log_capture m_oLog;
    std::string m_strRoot;
    std::string m_strSource;
    std::unique_ptr<incoming_connection_handler> m_pListener;
    std::unique_ptr<outgoing_connection_handler> m_pSender;
    friend_profile m_oBobProfile;
};

// One end of a connection driven by hand: a sender (or receiver) that misbehaves on purpose.
class manual_peer {
public:
    // Connects to `where` and authenticates as Alice.
    manual_peer(test_identity& alice, const friend_profile& bob, const net_address& where);
    ~manual_peer();

    [[nodiscard]] bool authenticated() const { return m_bAuthenticated; }
    bool send_raw(const std::vector<std::uint8_t>& bytes);
    // The record as the real sender encrypts it.
    bool send_record(const std::string& name, std::uint32_t size);
    // Data as a continuing piece (final = false) or completing the message.
    bool send_data(const std::vector<std::uint8_t>& plain, bool final);
    std::vector<std::uint8_t> encrypt(const std::vector<std::uint8_t>& plain, bool final);
    void half_close();
    // True when the other end closed or reset within the time-out.
    bool peer_closed_within(std::chrono::milliseconds limit);

    net_socket socket;

private:
    std::unique_ptr<rsa_authentycryptor> m_pCipher;
    bool m_bAuthenticated = false;
};

[[nodiscard]] std::vector<std::uint8_t> pattern_bytes(std::size_t size, unsigned seed);

} // namespace tiv::test
