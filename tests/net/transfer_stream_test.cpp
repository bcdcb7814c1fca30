#include <map>
#include <set>

#include "crypto/session_key_types.h"
#include "transfer_fixture.h"

namespace tiv::test {
namespace {

std::size_t cipher_block(std::uint32_t type_bit) {
    const std::string name = key_type_name(type_bit);
    if (name.find("RC4") != std::string::npos) {
        return 1;
    }
    return name.find("AES") != std::string::npos ? 16 : 8;
}

std::shared_ptr<socket_thread> received_as(const incoming_connection_handler& listener, const std::string& name) {
    for (std::size_t i = 0; i < listener.size(); ++i) {
        auto transfer = listener.thread_at(i);
        if (name == transfer->record().file_name) {
            return transfer;
        }
    }
    return nullptr;
}

using TransferStream = transfer_test;

// Every byte arrives, whatever the cipher and wherever the file ends against its blocks and the data pieces.
TEST_F(TransferStream, EveryKeyTypeCarriesEveryEdgeSize) {
    incoming_connection_handler& listener = listen(2048);
    const std::size_t chunk = 2048;
    std::size_t expected_transfers = 0;
    for (std::size_t index = 0; index < session_key_type_count; ++index) {
        const std::uint32_t type = 1U << index;
        if ((type & crypto_provider::available_key_types()) == 0) {
            continue;
        }
        SCOPED_TRACE(key_type_name(type));
        bob_accepts_alice(type);
        const std::size_t b = cipher_block(type);
        std::set<std::size_t> sizes = {0, 1, b - 1, b, b + 1, chunk - 1, chunk, chunk + 1, 3 * chunk + 5, 300001};
        std::map<std::string, std::string> sources;
        for (const std::size_t size : sizes) {
            const std::string name = "t" + std::to_string(index) + "-" + std::to_string(size) + ".bin";
            sources[name] = make_file(name, size, static_cast<unsigned>(size + index));
            (void)send_file(sources[name]);
        }
        expected_transfers += sizes.size();
        ASSERT_TRUE(wait_sent());
        ASSERT_TRUE(wait_received(expected_transfers));
        for (const auto& [name, source] : sources) {
            SCOPED_TRACE(name);
            const auto received = received_as(listener, name);
            ASSERT_NE(received, nullptr);
            EXPECT_EQ(received->failed, 0) << received->status_code;
            EXPECT_EQ(received->state, COMPLETED);
            const auto* cipher = dynamic_cast<const rsa_authentycryptor*>(received->authenticator.get());
            ASSERT_NE(cipher, nullptr);
            EXPECT_EQ(cipher->chosen_type(), type);
            const std::string sent = read_all(source);
            EXPECT_EQ(received->bytes_transferred, sent.size());
            EXPECT_TRUE(read_all(alice_box() + "/" + name) == sent) << "content differs";
        }
    }
    for (std::size_t i = 0; i < sender().size(); ++i) {
        const auto sent = sender().thread_at(i);
        EXPECT_EQ(sent->failed, 0) << sent->record().file_name << " status " << sent->status_code;
        EXPECT_EQ(sent->state, COMPLETED);
        EXPECT_EQ(sent->bytes_transferred, sent->record().file_size);
    }
}

// Sender and receiver may use different block sizes; the stream has no piece boundaries.
TEST_F(TransferStream, BlockSizesOnEitherSideDoNotMatter) {
    bob_accepts_alice(0x800 | 0x100);
    const std::vector<int> blocks = {512, 1024, 2048, 4096, 8192};
    std::map<std::string, std::string> sources;
    for (const int receiving : {1024, 8192}) {
        listen(receiving);
        for (const int sending : blocks) {
            for (const std::size_t size : {std::size_t(sending) - 1, std::size_t(sending) + 17, std::size_t(70000)}) {
                const std::string name =
                    std::to_string(receiving) + "-" + std::to_string(sending) + "-" + std::to_string(size);
                sources[name] = make_file(name, size, static_cast<unsigned>(size));
                (void)send_file(sources[name], sending);
            }
        }
        ASSERT_TRUE(wait_sent());
        ASSERT_TRUE(wait_received(blocks.size() * 3));
    }
    for (const auto& [name, source] : sources) {
        EXPECT_TRUE(read_all(alice_box() + "/" + name) == read_all(source)) << name;
    }
}

TEST_F(TransferStream, StatisticsAndStatesOfAFinishedTransfer) {
    listen();
    const auto sent = send_file(make_file("stats.bin", 100000));
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(1));
    EXPECT_STREQ(sent->state_name(), "COMPLETED");
    EXPECT_EQ(sent->statistic(0), 100000.0);
    EXPECT_GT(sent->statistic(1), 0.0);
    EXPECT_EQ(sent->statistic(2), 0.0) << "running selectors read 0 once finished";
    EXPECT_NEAR(sent->statistic(4), 100000.0 / sent->statistic(1), 1.0);
    EXPECT_EQ(sent->statistic(99), 0.0);
    EXPECT_EQ(m_pListener->thread_at(0)->peer_name(), "Alice");
    EXPECT_EQ(m_oLog.count_starting_with("incoming_connection_handler <-- Receiving connection from [127.0.0.1]"), 1U);
}

} // namespace
} // namespace tiv::test
