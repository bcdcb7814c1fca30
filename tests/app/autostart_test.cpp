#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "app/autostart.h"
#include "support/limited_disk.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

std::string contents(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The entry is the desktop session's, below XDG_CONFIG_HOME: each test points that into its own home.
class AutostartTest : public test::home_test {
protected:
    void SetUp() override {
        const char* before = std::getenv("XDG_CONFIG_HOME");
        m_oPrevious = before != nullptr ? std::optional<std::string>(before) : std::nullopt;
        ::setenv("XDG_CONFIG_HOME", (m_oHome.path() + "/config").c_str(), 1);
    }
    void TearDown() override {
        if (m_oPrevious) {
            ::setenv("XDG_CONFIG_HOME", m_oPrevious->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
    }

    std::optional<std::string> m_oPrevious;
};

TEST(AutostartExecTest, APathIsQuotedAndEscapedAsTheSessionReadsIt) {
    EXPECT_EQ(*app::autostart_exec_line("/usr/bin/quorvel"), "/usr/bin/quorvel --minimized");
    // Quoted for the blank; inside the quotes '"', '$' and '\' take a backslash, which the string escape doubles
    // again; '%' is doubled so it is no field code.
    EXPECT_EQ(*app::autostart_exec_line("/opt/My Apps/q\"$\\100%/quorvel"),
              "\"/opt/My Apps/q\\\\\"\\\\$\\\\\\\\100%%/quorvel\" --minimized");
    EXPECT_EQ(app::autostart_exec_line("quorvel").error().code(), app::status_code::invalid);
    EXPECT_EQ(app::autostart_exec_line("/opt/new\nline/quorvel").error().code(), app::status_code::invalid);
}

TEST_F(AutostartTest, TheEntryIsWrittenWithItsFolderAndRemoved) {
    const std::string path = m_oHome.path() + "/config/autostart/quorvel.desktop";
    ASSERT_EQ(app::autostart_entry_path(), path);
    EXPECT_FALSE(app::starts_at_login());
    ASSERT_TRUE(app::start_at_login("/usr/bin/quorvel").ok());
    EXPECT_TRUE(app::starts_at_login());
    const std::string entry = contents(path);
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0U);
    EXPECT_NE(entry.find("\nExec=/usr/bin/quorvel --minimized\n"), std::string::npos);
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);

    ASSERT_TRUE(app::stop_starting_at_login().ok());
    EXPECT_FALSE(app::starts_at_login());
    EXPECT_TRUE(app::stop_starting_at_login().ok());
}

TEST_F(AutostartTest, AFullDiskLeavesTheEarlierEntryWholeAndNoTemporary) {
    ASSERT_TRUE(app::start_at_login("/usr/bin/quorvel").ok());
    const std::string earlier = contents(app::autostart_entry_path());
    test::limited_disk full(40);
    const app::status refused = app::start_at_login("/opt/quorvel/bin/quorvel", full);
    EXPECT_EQ(refused.code(), app::status_code::io_failure);
    EXPECT_NE(refused.text().find(app::autostart_entry_path()), std::string::npos) << refused.text();
    EXPECT_EQ(full.open_files(), 0U);
    EXPECT_EQ(contents(app::autostart_entry_path()), earlier);
    const auto left = std::distance(std::filesystem::directory_iterator(m_oHome.path() + "/config/autostart"),
                                    std::filesystem::directory_iterator());
    EXPECT_EQ(left, 1);
}

} // namespace
} // namespace tiv
