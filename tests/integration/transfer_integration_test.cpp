#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

#include "crypto/session_key_types.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

namespace tiv::test {
namespace {

namespace fs = std::filesystem;

// Two users in homes of their own, each run as real quorvel-cli processes: Bob listens, Alice sends.
class TwoPeers : public peer_pair_test {
protected:
    static void SetUpTestSuite() {
        peer_pair_test::SetUpTestSuite();
        s_pAlice->befriend(*s_pBob, all_session_key_types);
    }

    void SetUp() override {
        peer_pair_test::SetUp();
        fs::remove_all(alice_box());
        bob_accepts_alice(all_session_key_types);
    }
    void TearDown() override {
        m_pListener.reset();
        peer_pair_test::TearDown();
    }

    static void bob_accepts_alice(std::uint32_t types, std::int32_t receipt = 1, std::uint32_t max_size = unlimited,
                                  std::uint32_t max_count = unlimited) {
        friend_profile alice = s_pAlice->as_friend(types);
        alice.receipt_enabled = receipt;
        alice.max_file_size = max_size;
        alice.max_file_count = max_count;
        ASSERT_TRUE(save_profile(s_pBob->settings(), alice));
    }

    void start_listener(std::uint32_t block_size = 8192) {
        m_pListener.reset();
        m_nPort = free_loopback_port();
        ASSERT_NE(m_nPort, 0);
        for (test_identity* person : {s_pAlice, s_pBob}) {
            ASSERT_TRUE(write_dword_setting(person->settings().machine_key(), names::io_block_size, block_size));
        }
        ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::interface_ip_port,
                                        static_cast<std::uint32_t>(m_nPort)));
        m_pListener = std::make_unique<peer_process>(s_pBob->home(), std::vector<std::string>{"listen"},
                                                     m_strWork + "/listen-" + std::to_string(++m_nRuns) + ".out");
        ASSERT_TRUE(m_pListener->wait_for_output("Listening on 127.0.0.1:" + std::to_string(m_nPort), 15000))
            << m_pListener->output();
    }

    // Runs one send of the given files; returns its exit code, its output in `output`.
    int send(const std::vector<std::string>& files, std::string* output = nullptr) {
        std::vector<std::string> args = {"send", "Bob"};
        args.insert(args.end(), files.begin(), files.end());
        args.push_back("--to=127.0.0.1:" + std::to_string(m_nPort));
        peer_process sending(s_pAlice->home(), args, m_strWork + "/send-" + std::to_string(++m_nRuns) + ".out");
        const int code = sending.wait(60000);
        if (output != nullptr) {
            *output = sending.output();
        }
        return code;
    }

    std::string make_file(const std::string& name, std::size_t size) {
        const std::string path = m_strWork + "/" + name;
        write_random_file(path, size);
        return path;
    }

    static std::string alice_box() { return s_pBob->home() + "/PBoxes/Alice"; }
    static std::vector<std::string> box_names() {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(alice_box(), ignored)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::unique_ptr<peer_process> m_pListener;
    int m_nPort = 0;
    int m_nRuns = 0;
};

TEST_F(TwoPeers, EveryKeyTypeAndBlockSizeDeliversByteIdenticalFiles) {
    const std::vector<std::size_t> sizes = {0, 1, 15, 16, 17, 1023, 1024, 1025, 8191, 8192, 8193, (1U << 20) + 7};
    for (const std::uint32_t block : {1024U, 2048U, 4096U, 8192U}) {
        ASSERT_NO_FATAL_FAILURE(start_listener(block));
        for (std::size_t index = 0; index < session_key_type_count; ++index) {
            const std::uint32_t type = 1U << index;
            if ((type & crypto_provider::available_key_types()) == 0) {
                continue;
            }
            bob_accepts_alice(type);
            std::vector<std::string> files;
            for (const std::size_t size : sizes) {
                files.push_back(make_file(
                    "b" + std::to_string(block) + "-t" + std::to_string(index) + "-" + std::to_string(size), size));
            }
            std::string output;
            ASSERT_EQ(send(files, &output), 0) << key_type_name(type) << " block " << block << "\n" << output;
            for (const std::string& file : files) {
                EXPECT_EQ(file_sha256(alice_box() + "/" + fs::path(file).filename().string()), file_sha256(file))
                    << file;
            }
            EXPECT_NE(m_pListener->output().find(std::string("R::Key type chosen: [") + key_type_name(type) + "]"),
                      std::string::npos);
        }
    }
    m_pListener->signal(SIGTERM);
    EXPECT_EQ(m_pListener->wait(15000), 0);
}

TEST_F(TwoPeers, DuplicatesAreNumberedAndTwentyFilesAtOnceAllArrive) {
    ASSERT_NO_FATAL_FAILURE(start_listener());
    const std::string same = make_file("same.txt", 100);
    ASSERT_EQ(send({same}), 0);
    ASSERT_EQ(send({same}), 0);
    std::vector<std::string> files;
    for (int i = 0; i < 20; ++i) {
        files.push_back(make_file("many" + std::to_string(i), 5000 + static_cast<std::size_t>(i)));
    }
    std::string output;
    ASSERT_EQ(send(files, &output), 0) << output;
    for (const std::string& file : files) {
        EXPECT_EQ(file_sha256(alice_box() + "/" + fs::path(file).filename().string()), file_sha256(file));
    }
    EXPECT_EQ(file_sha256(alice_box() + "/same(1).txt"), file_sha256(same));
    EXPECT_EQ(box_names().size(), 22U);
}

TEST_F(TwoPeers, RefusedParcelsLeaveNothingAndTheSenderFails) {
    ASSERT_NO_FATAL_FAILURE(start_listener());
    const std::string file = make_file("refused.bin", 5000);
    std::string output;

    bob_accepts_alice(all_session_key_types, 0);
    EXPECT_EQ(send({file}, &output), 1) << output;
    EXPECT_NE(output.find("failed, status 5"), std::string::npos) << output;

    bob_accepts_alice(all_session_key_types, 1, 4999);
    EXPECT_EQ(send({file}), 1);

    bob_accepts_alice(0);
    EXPECT_EQ(send({file}, &output), 1);
    EXPECT_NE(output.find("AUTHENTICATING: failed, status 3 (authentication failed: no session key type that both "
                          "sides allow, or the receiver does not know this sender)"),
              std::string::npos)
        << output;

    ASSERT_TRUE(delete_profile(s_pBob->settings(), "Alice"));
    EXPECT_EQ(send({file}), 1);
    EXPECT_TRUE(box_names().empty());
    // The sender's verdict comes before the receiver is done logging its side.
    EXPECT_TRUE(m_pListener->wait_for_output("parcel receipt is disabled for this friend", 15000));
    EXPECT_TRUE(m_pListener->wait_for_output("R::Authenticating FAILED->profile retrieval", 15000))
        << m_pListener->output();
}

// The survivor reports the failure, and nothing appears under the file's name. A killed listener's temporary file
// is gone after its restart, and never took a place in the friend's file count.
TEST_F(TwoPeers, KilledPeerMidFileIsAFailureOnTheOtherSideAndLeavesNothingBehind) {
    const std::string big = m_strWork + "/big.bin";
    {
        std::ofstream out(big, std::ios::binary);
        std::vector<char> piece(1 << 20, 'q');
        for (int i = 0; i < 300; ++i) {
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        }
    }
    const auto partial_arrived = [] {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(alice_box(), ignored)) {
            if (entry.file_size(ignored) > (1U << 20)) {
                return true;
            }
        }
        return false;
    };

    ASSERT_NO_FATAL_FAILURE(start_listener(1024));
    {
        peer_process sending(s_pAlice->home(), {"send", "Bob", big, "--to=127.0.0.1:" + std::to_string(m_nPort)},
                             m_strWork + "/killed-sender.out");
        ASSERT_TRUE(wait_for(partial_arrived, std::chrono::seconds(20)));
        sending.signal(SIGKILL);
        EXPECT_EQ(sending.wait(5000), -SIGKILL);
    }
    ASSERT_TRUE(m_pListener->wait_for_output("R:  STATUS_ERROR [6]", 15000)) << m_pListener->output();
    EXPECT_TRUE(box_names().empty()) << "the temporary file is removed too";

    {
        peer_process sending(s_pAlice->home(), {"send", "Bob", big, "--to=127.0.0.1:" + std::to_string(m_nPort)},
                             m_strWork + "/survivor.out");
        ASSERT_TRUE(wait_for(partial_arrived, std::chrono::seconds(20)));
        m_pListener->signal(SIGKILL);
        EXPECT_EQ(sending.wait(30000), 1) << sending.output();
        EXPECT_NE(sending.output().find("failed"), std::string::npos);
    }
    const std::vector<std::string> left = box_names();
    ASSERT_EQ(left.size(), 1U);
    EXPECT_TRUE(left.front().starts_with(".") && left.front().ends_with(".quorvel-part")) << left.front();

    bob_accepts_alice(all_session_key_types, 1, unlimited, 1);
    ASSERT_NO_FATAL_FAILURE(start_listener());
    EXPECT_NE(m_pListener->output().find("Removed the unfinished temporary file " + alice_box() + "/" + left.front()),
              std::string::npos)
        << m_pListener->output();
    EXPECT_TRUE(box_names().empty());
    const std::string small = make_file("small.bin", 1000);
    std::string output;
    EXPECT_EQ(send({small}, &output), 0) << output;
    EXPECT_EQ(box_names(), std::vector<std::string>{"small.bin"});
}

// The app decides every refusal; this only shows that listen prints it and ends instead of listening.
TEST_F(TwoPeers, ListenThatCannotReceiveSaysWhyAndEnds) {
    const reg::key& user = s_pBob->settings().user_key();
    const std::optional<std::string> root = read_text_setting(user, names::parcel_box_directory_root);
    ASSERT_TRUE(root.has_value());
    const std::string file = make_file("not-a-directory", 10);
    ASSERT_TRUE(write_text_setting(user, names::parcel_box_directory_root, file));
    peer_process listening(s_pBob->home(), {"listen"}, m_strWork + "/refused.out");
    EXPECT_EQ(listening.wait(5000), 1) << listening.output();
    EXPECT_NE(listening.output().find("quorvel-cli: the parcel box root " + file + " is not a directory."),
              std::string::npos)
        << listening.output();
    EXPECT_TRUE(write_text_setting(user, names::parcel_box_directory_root, *root));
}

TEST_F(TwoPeers, ListenWithALogFileItCannotWriteSaysWhyOnceAndReceives) {
    const std::string file = make_file("not-a-log-directory", 10);
    ASSERT_TRUE(write_text_setting(s_pBob->settings().user_key(), names::installation_directory, file));
    ASSERT_NO_FATAL_FAILURE(start_listener());
    const std::string parcel = make_file("logless.bin", 5000);
    EXPECT_EQ(send({parcel}), 0);
    EXPECT_EQ(file_sha256(alice_box() + "/logless.bin"), file_sha256(parcel));
    m_pListener->signal(SIGTERM);
    EXPECT_EQ(m_pListener->wait(15000), 0);
    const std::string said = m_pListener->output();
    const std::string why = "quorvel-cli: warning: the activity log " + file + "/QVLLogfile.txt cannot be written";
    EXPECT_NE(said.find(why), std::string::npos) << said;
    EXPECT_EQ(said.find(why), said.rfind(why)) << "said once";
    EXPECT_NE(said.find("R::"), std::string::npos) << "the log lines still reach the terminal";
    EXPECT_TRUE(
        write_text_setting(s_pBob->settings().user_key(), names::installation_directory, s_pBob->home() + "/logs"));
}

TEST_F(TwoPeers, StopSignalRemovesUnfinishedFilesAndExitsCleanly) {
    ASSERT_NO_FATAL_FAILURE(start_listener(1024));
    const std::string big = m_strWork + "/big2.bin";
    {
        std::ofstream out(big, std::ios::binary);
        std::vector<char> piece(1 << 20, 'z');
        for (int i = 0; i < 300; ++i) {
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        }
    }
    peer_process sending(s_pAlice->home(), {"send", "Bob", big, "--to=127.0.0.1:" + std::to_string(m_nPort)},
                         m_strWork + "/stopped.out");
    ASSERT_TRUE(wait_for([] { return !box_names().empty(); }, std::chrono::seconds(20)));
    m_pListener->signal(SIGINT);
    EXPECT_EQ(m_pListener->wait(15000), 0) << m_pListener->output();
    EXPECT_TRUE(box_names().empty());
    EXPECT_EQ(sending.wait(30000), 1);
}

} // namespace
} // namespace tiv::test
