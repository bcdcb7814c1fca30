#include <gtest/gtest.h>

#include "app/endpoint_words.h"

namespace tiv {
namespace {

TEST(EndpointWords, AnIpv6AddressTakesBracketsBeforeItsPortBothWays) {
    EXPECT_EQ(app::endpoint_words("2001:db8::5", 20000), "[2001:db8::5]:20000");
    EXPECT_EQ(app::endpoint_words("10.0.0.2", 20000), "10.0.0.2:20000");
    for (const char* written : {"[2001:db8::5]:20000", "10.0.0.2:20000", "bob.example.org:1"}) {
        const std::optional<app::endpoint> parsed = app::parse_endpoint(written);
        ASSERT_TRUE(parsed) << written;
        EXPECT_EQ(app::endpoint_words(parsed->host, parsed->port), written);
    }
    for (const char* refused :
         {"::1:20000", "[::1]", "[]:20000", "[::1:20000", "host:0", "host:65536", "host:2x", ":20000", "host:"}) {
        EXPECT_FALSE(app::parse_endpoint(refused)) << refused;
    }
}

} // namespace
} // namespace tiv
