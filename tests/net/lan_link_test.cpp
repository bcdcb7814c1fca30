#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>

#include "net/discovery/lan_link.h"

namespace tiv {
namespace {

// Without a daemon to talk to, the link says why at once instead of waiting for one to appear.
TEST(LanLink, WithoutAnAvahiDaemonOpeningFailsAtOnceWithTheReason) {
    const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved = previous != nullptr ? previous : "";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quorvel-test-bus", 1);
    std::string why;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(lan_link::open(why), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_NE(why.find("no Avahi daemon answers on the system bus"), std::string::npos) << why;
    if (previous != nullptr) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
    } else {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

} // namespace
} // namespace tiv
