#include <map>
#include <optional>
#include <set>

#include "crypto/session_key_types.h"
#include "net/stream/parcel_channel.h"
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

std::optional<transfer_view> received_as(const incoming_connection_handler& listener, const std::string& name) {
    for (const transfer_view& transfer : listener.snapshots()) {
        if (transfer.file_name == name) {
            return transfer;
        }
    }
    return std::nullopt;
}

using TransferStream = transfer_test;

std::size_t threads_of_this_process() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

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
            ASSERT_TRUE(received.has_value());
            EXPECT_FALSE(received->failed) << received->status_text;
            EXPECT_EQ(received->state, transfer_state::completed);
            // The type the receiver agreed on, from the lines its own transfer logged.
            const std::string chosen = std::string("R::Key type chosen: [") + key_type_name(type) + "]";
            EXPECT_TRUE(m_oLog.contains(received->id, chosen)) << chosen;
            const std::string sent = read_all(source);
            EXPECT_EQ(received->bytes_done, sent.size());
            EXPECT_TRUE(read_all(alice_box() + "/" + name) == sent) << "content differs";
        }
    }
    for (const transfer_view& sent : sender().snapshots()) {
        EXPECT_FALSE(sent.failed) << sent.file_name << ": " << sent.status_text;
        EXPECT_EQ(sent.state, transfer_state::completed);
        EXPECT_EQ(sent.bytes_done, sent.size);
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

TEST_F(TransferStream, SnapshotsOfAFinishedTransfer) {
    listen();
    const auto sent = send_file(make_file("stats.bin", 100000));
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(1));
    const transfer_view done = sent->snapshot();
    EXPECT_EQ(transfer_state_name(done.state), std::string("COMPLETED"));
    EXPECT_TRUE(done.finished);
    EXPECT_EQ(done.bytes_done, 100000U);
    EXPECT_GT(done.seconds, 0.0);
    EXPECT_NEAR(done.rate, 100000.0 / done.seconds, 1.0);
    EXPECT_GE(done.end_time, done.start_time);
    const transfer_view arrived = received(0);
    EXPECT_EQ(arrived.friend_name, "Alice");
    EXPECT_EQ(arrived.stored_path, alice_box() + "/stats.bin");
    EXPECT_NE(arrived.id, done.id);
    EXPECT_EQ(m_oLog.count_starting_with("incoming_connection_handler <-- Receiving connection from [127.0.0.1]"), 1U);
}

// The files of one send are run by one worker, not a thread each: a send of many files starts no more threads than
// a send of one, and every file still arrives with its own verdict.
TEST_F(TransferStream, ASendOfManyFilesStartsOneWorkerNotAThreadPerFile) {
    bob_accepts_alice();
    listen();
    constexpr std::size_t files = 100;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < files; ++i) {
        names.push_back("many" + std::to_string(i));
        make_file(names.back(), 100 + i, static_cast<unsigned>(i));
    }
    const std::size_t before = threads_of_this_process();
    const auto channel = std::make_shared<parcel_channel>(files);
    for (const std::string& name : names) {
        (void)sender().start_outgoing(source_dir(), name, {m_pListener->listening_address()}, 2048, channel);
    }
    // The worker, and the receiver's thread for the connection under way.
    EXPECT_LE(threads_of_this_process(), before + 3);
    ASSERT_TRUE(wait_sent());
    for (const transfer_view& sent : sender().snapshots()) {
        EXPECT_FALSE(sent.failed) << sent.file_name << ": " << sent.status_text;
    }
    for (const std::string& name : names) {
        EXPECT_EQ(read_all(alice_box() + "/" + name), read_all(source_dir() + "/" + name)) << name;
    }
}

// A file stopped while the files before it still take their time ends at once, as the window asking expects.
TEST_F(TransferStream, AFileStoppedBeforeItsTurnEndsAtOnce) {
    net_socket silent; // listens, and never answers: the first file waits in its exchange
    net_address local{};
    ASSERT_TRUE(resolve_address("127.0.0.1", 0, local) && open_tcp_socket(silent) && bind_socket(silent, local) &&
                listen_socket(silent));
    make_file("first", 10);
    make_file("second", 10);
    sender().io_timeout_ms = 3000;
    const auto channel = std::make_shared<parcel_channel>(2);
    (void)sender().start_outgoing(source_dir(), "first", {silent.address}, 2048, channel);
    const std::shared_ptr<socket_thread> second =
        sender().start_outgoing(source_dir(), "second", {silent.address}, 2048, channel);
    ASSERT_TRUE(sender().stop_transfer(second->id()));
    const transfer_view stopped = second->snapshot();
    EXPECT_TRUE(stopped.finished);
    EXPECT_EQ(stopped.status, transfer_status::stopped);
    sender().stop_all();
    close_socket(silent);
}

} // namespace
} // namespace tiv::test
