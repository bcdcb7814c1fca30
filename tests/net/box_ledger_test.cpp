#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "net/box/box_ledger.h"
#include "net/box/parcel_names.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using BoxLedger = test::home_test;
namespace fs = std::filesystem;

void add_files(const std::string& directory, int count) {
    fs::create_directories(directory);
    for (int i = 0; i < count; ++i) {
        std::ofstream(directory + "/f" + std::to_string(i)) << "x";
    }
}

TEST_F(BoxLedger, ReservationsShareTheLimitAndWhatIsNotStoredComesBack) {
    const std::string box = m_oHome.path() + "/box";
    add_files(box + "/folder/inner", 1);
    std::ofstream(box + "/" + temporary_parcel_name()) << "x";
    box_ledger ledger;
    std::uint64_t held = 0;
    auto folder = ledger.reserve(box, 4, 7, held);
    ASSERT_TRUE(folder.has_value()) << "the folder, its directory and file: 3 of 7, a temporary not counted";
    EXPECT_FALSE(ledger.reserve(box, 1, 7, held).has_value());
    EXPECT_EQ(held, 7U);
    folder->stored(2);
    auto moved = std::move(*folder);
    folder.reset();
    EXPECT_FALSE(ledger.reserve(box, 1, 7, held).has_value()) << "what is left moves with the reservation";
    moved.release();
    const auto loose = ledger.reserve(box, 2, 7, held);
    EXPECT_TRUE(loose.has_value()) << "two of the folder's four came back";
    EXPECT_FALSE(ledger.reserve(box, 1, 7, held).has_value()) << "and only once";
}

TEST_F(BoxLedger, TheBoxIsWalkedOnlyWhenItLooksFullAndAtMostAtItsRate) {
    const std::string box = m_oHome.path() + "/box";
    add_files(box, 1);
    box_ledger often(std::chrono::milliseconds(0));
    std::uint64_t held = 0;
    often.reserve(box, 1, 3, held).value().stored();
    // Files that appear behind the ledger's back are not looked for while there is room...
    add_files(box + "/behind", 5);
    often.reserve(box, 1, 3, held).value().stored();
    // ...but a box that looks full is counted again, and what the user deleted is found gone.
    EXPECT_FALSE(often.reserve(box, 1, 3, held).has_value());
    EXPECT_EQ(held, 7U);
    fs::remove_all(box + "/behind");
    EXPECT_TRUE(often.reserve(box, 1, 3, held).has_value());

    box_ledger seldom(std::chrono::hours(1));
    add_files(box + "/behind", 5);
    EXPECT_FALSE(seldom.reserve(box, 1, 3, held).has_value());
    fs::remove_all(box + "/behind");
    EXPECT_FALSE(seldom.reserve(box, 1, 3, held).has_value()) << "not counted again within the hour";
}

} // namespace
} // namespace tiv
