#include <map>

#include "transfer_fixture.h"

namespace tiv::test {
namespace {

// What a window's timer does while transfers run: read the whole list, again and again. Every copy must be true to
// itself and to the copies before it, however the bodies move on meanwhile.
class TransferSnapshots : public transfer_test {
protected:
    void check(const std::vector<transfer_view>& list) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const transfer_view& now = list[i];
            SCOPED_TRACE(now.id);
            if (i > 0) {
                EXPECT_GT(now.id, list[i - 1].id) << "ids unique, in order of creation";
            }
            if (now.size != 0) {
                EXPECT_LE(now.bytes_done, now.size);
            }
            if (now.finished) {
                EXPECT_EQ(now.state, transfer_state::completed) << now.status_text;
                EXPECT_FALSE(now.failed) << now.status_text;
                EXPECT_EQ(now.bytes_done, now.size) << "finished with the final count";
            }
            const auto seen = m_aSeen.find(now.id);
            if (seen != m_aSeen.end()) {
                const transfer_view& before = seen->second;
                EXPECT_GE(now.state, before.state);
                EXPECT_GE(now.bytes_done, before.bytes_done);
                if (before.finished) {
                    EXPECT_TRUE(now.finished);
                    EXPECT_EQ(now.bytes_done, before.bytes_done) << "a finished transfer does not move";
                    EXPECT_EQ(now.end_time, before.end_time);
                    EXPECT_EQ(now.seconds, before.seconds);
                }
                if (before.file_name != "<unknown>") {
                    EXPECT_EQ(now.file_name, before.file_name);
                }
            }
            m_aSeen[now.id] = now;
        }
    }

    std::map<std::uint64_t, transfer_view> m_aSeen;
};

TEST_F(TransferSnapshots, FiftyTransfersReadWhileTheyRun) {
    constexpr std::size_t count = 50;
    listen();
    std::map<std::string, std::string> sources;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = "snap" + std::to_string(i) + ".bin";
        sources[name] = make_file(name, 10000 + i * 6000, static_cast<unsigned>(i));
        (void)send_file(sources[name]);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::size_t rounds = 0;
    bool done = false;
    while (!done && std::chrono::steady_clock::now() < deadline && !HasFailure()) {
        done = sender().running_count() == 0 && m_pListener->size() == count && m_pListener->running_count() == 0;
        check(sender().snapshots());
        check(m_pListener->snapshots());
        ++rounds;
    }
    ASSERT_TRUE(done) << "after " << rounds << " rounds of reading";

    const std::vector<transfer_view> sent = sender().snapshots();
    const std::vector<transfer_view> arrived = m_pListener->snapshots();
    ASSERT_EQ(sent.size(), count);
    ASSERT_EQ(arrived.size(), count);
    for (const transfer_view& transfer : sent) {
        EXPECT_TRUE(transfer.finished);
        EXPECT_EQ(transfer.size, read_all(sources.at(transfer.file_name)).size());
        EXPECT_EQ(transfer.peer_address, endpoint_text(m_pListener->listening_address()));
    }
    for (const transfer_view& transfer : arrived) {
        EXPECT_TRUE(transfer.finished);
        EXPECT_EQ(transfer.friend_name, "Alice");
        EXPECT_TRUE(transfer.peer_address.starts_with("127.0.0.1:")) << transfer.peer_address;
        EXPECT_EQ(transfer.stored_path, alice_box() + "/" + transfer.file_name);
        EXPECT_TRUE(read_all(transfer.stored_path) == read_all(sources.at(transfer.file_name))) << "content differs";
    }
}

} // namespace
} // namespace tiv::test
