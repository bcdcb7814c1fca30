#include <filesystem>
#include <gtest/gtest.h>

#include "core/transfer_view.h"
#include "crypto/session_key_types.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "support/limited_disk.h"
#include "support/test_identity.h"

namespace tiv::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t box_bytes = 1 << 20;

// Bob's parcel box is on a disk of 1 MiB; Alice, a real sender, sends him more than that.
class FullParcelBox : public peer_pair_test {
protected:
    static void SetUpTestSuite() {
        peer_pair_test::SetUpTestSuite();
        s_pAlice->befriend(*s_pBob, all_session_key_types);
        s_pBob->befriend(*s_pAlice, all_session_key_types);
    }

    int send(const std::string& file, int port, std::string& output) {
        peer_process sending(s_pAlice->home(), {"send", "Bob", file, "--to=127.0.0.1:" + std::to_string(port)},
                             m_strWork + "/send-" + std::to_string(++m_nSends) + ".out");
        const int code = sending.wait(60000);
        output = sending.output();
        return code;
    }

    int m_nSends = 0;
};

TEST_F(FullParcelBox, TransferFailsOnBothSidesAndLeavesTheSpaceFree) {
    const auto disk = std::make_shared<limited_disk>(box_bytes);
    const receiver_in_process bob(*s_pBob, disk);
    ASSERT_TRUE(bob.started()) << bob.started().text();

    const std::string big = m_strWork + "/too-big.bin";
    write_random_file(big, 2 * box_bytes);
    std::string output;
    EXPECT_EQ(send(big, bob.port(), output), 1) << output;
    EXPECT_NE(output.find("failed, status 5"), std::string::npos) << output;
    ASSERT_TRUE(bob.wait_received(1, std::chrono::seconds(10)));
    EXPECT_EQ(bob.snapshots().at(0).status, app::transfer_status::receive);

    const std::string box = s_pBob->home() + "/PBoxes/Alice";
    std::error_code error;
    EXPECT_TRUE(fs::is_directory(box, error)) << "the parcel box was never made: " << error.message();
    EXPECT_TRUE(fs::is_empty(box, error)) << "a partial or temporary file remains";
    // A file unlinked but still open would hold its blocks; the space must really be free again.
    EXPECT_EQ(disk->open_files(), 0U) << "the failed file is still open";

    // What fits still arrives: the failure left the disk and the listener usable.
    const std::string fits = m_strWork + "/fits.bin";
    write_random_file(fits, box_bytes * 3 / 4);
    EXPECT_EQ(send(fits, bob.port(), output), 0) << output;
    EXPECT_EQ(file_sha256(box + "/fits.bin"), file_sha256(fits));
}

} // namespace
} // namespace tiv::test
