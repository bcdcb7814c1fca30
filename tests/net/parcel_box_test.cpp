#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/box/parcel_box.h"
#include "support/temp_home.h"
#include "transfer_fixture.h"

namespace tiv {
namespace {

namespace fs = std::filesystem;

class ParcelBox : public test::home_test {
protected:
    std::string m_strRoot = m_oHome.path() + "/PBoxes";
};

mode_t mode_of(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST_F(ParcelBox, IsMadePrivateWithItsRootAndAnEmptyRootIsRefused) {
    const std::string box = m_strRoot + "/Alice";
    EXPECT_EQ(prepare_parcel_box(m_strRoot, box), std::nullopt);
    EXPECT_EQ(mode_of(m_strRoot), 0700U);
    EXPECT_EQ(mode_of(box), 0700U);
    ASSERT_EQ(::chmod(box.c_str(), 0755), 0);
    EXPECT_EQ(prepare_parcel_box(m_strRoot, box), std::nullopt);
    EXPECT_EQ(mode_of(box), 0700U) << "a box of ours that others could read is closed again";

    EXPECT_EQ(prepare_parcel_box("", "/Alice"), "no parcel box root is set");
    EXPECT_FALSE(fs::exists("/Alice"));
}

TEST_F(ParcelBox, ASymbolicLinkIsRefusedAndNotFollowed) {
    const std::string elsewhere = m_oHome.path() + "/elsewhere";
    ASSERT_TRUE(fs::create_directories(elsewhere));
    ASSERT_TRUE(fs::create_directories(m_strRoot));
    const std::string box = m_strRoot + "/Alice";
    fs::create_directory_symlink(elsewhere, box);
    EXPECT_EQ(prepare_parcel_box(m_strRoot, box), "the parcel box " + box + " is a symbolic link");
    const std::string dangling = m_strRoot + "/Bob";
    fs::create_directory_symlink(m_oHome.path() + "/not-yet", dangling);
    EXPECT_EQ(prepare_parcel_box(m_strRoot, dangling), "the parcel box " + dangling + " is a symbolic link");
    EXPECT_FALSE(fs::exists(m_oHome.path() + "/not-yet")) << "the link's target was not made";
}

TEST_F(ParcelBox, ABoxOfAnotherUserIsRefused) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "needs root and a 'nobody' user to give a box to another user";
    }
    const std::string box = m_strRoot + "/Alice";
    ASSERT_TRUE(fs::create_directories(box));
    ASSERT_EQ(::chown(box.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    EXPECT_EQ(prepare_parcel_box(m_strRoot, box),
              "the parcel box " + box + " belongs to another user (uid " + std::to_string(nobody->pw_uid) + ")");
}

// The receiver asks for the box where it stores: a friend's box that was swapped for a link is never written through.
class ParcelBoxTransfer : public test::transfer_test {};

TEST_F(ParcelBoxTransfer, AParcelForABoxThatIsASymbolicLinkIsRefused) {
    const std::string elsewhere = m_strRoot + "-elsewhere";
    ASSERT_TRUE(fs::create_directories(elsewhere));
    ASSERT_TRUE(fs::create_directories(fs::path(alice_box()).parent_path()));
    fs::create_directory_symlink(elsewhere, alice_box());
    listen();
    const auto sent = send_file(make_file("linked.bin", 100));
    ASSERT_TRUE(wait_sent());
    ASSERT_TRUE(wait_received(1));
    EXPECT_TRUE(received(0).failed);
    EXPECT_TRUE(sent->snapshot().failed);
    const std::vector<std::string> lines = m_oLog.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [this](const std::string& line) {
        return line.ends_with("the parcel box " + alice_box() + " is a symbolic link");
    }));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    fs::remove_all(elsewhere);
}

} // namespace
} // namespace tiv
