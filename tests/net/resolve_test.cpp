#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/socket/net_address.h"

namespace tiv {
namespace {

std::string dotted(const net_address& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.endpoint.v4.sin_addr, text, sizeof text);
    return text;
}

net_address resolved_loopback() {
    net_address address;
    EXPECT_TRUE(resolve_address("127.0.0.1", 7, address));
    return address;
}

TEST(resolve, broadcast_is_refused_and_keeps_the_previous_endpoint) {
    net_address address = resolved_loopback();
    const net_address before = address;
    EXPECT_FALSE(resolve_address("255.255.255.255", 20000, address));
    EXPECT_FALSE(address.resolved);
    EXPECT_EQ(std::memcmp(&address.endpoint, &before.endpoint, sizeof before.endpoint), 0);
    EXPECT_STREQ(address.host_name, before.host_name);
}

TEST(resolve, dotted_quad_gives_family_port_and_address_in_network_order) {
    net_address address;
    ASSERT_TRUE(resolve_address("127.0.0.1", 20000, address));
    EXPECT_TRUE(address.resolved);
    EXPECT_EQ(address.endpoint.v4.sin_family, AF_INET);
    EXPECT_EQ(address.endpoint.v4.sin_port, htons(20000));
    EXPECT_EQ(address.endpoint.v4.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_GT(std::strlen(address.host_name), 0u);
}

TEST(resolve, dotted_quad_without_reverse_entry_still_resolves) {
    // Neither address has a reverse entry on an ordinary machine; both must resolve to themselves all the same.
    for (const char* text : {"127.0.0.2", "0.0.0.0"}) {
        net_address address;
        ASSERT_TRUE(resolve_address(text, 40000, address)) << text;
        EXPECT_EQ(dotted(address), text);
        EXPECT_EQ(address.endpoint.v4.sin_port, htons(40000));
        EXPECT_GT(std::strlen(address.host_name), 0u);
    }
}

TEST(resolve, name_from_hosts_file_resolves) {
    net_address address;
    ASSERT_TRUE(resolve_address("localhost", 1234, address));
    EXPECT_EQ(dotted(address), "127.0.0.1");
    EXPECT_STREQ(address.host_name, "localhost");
}

TEST(resolve, unknown_name_fails_with_zero_endpoint_and_empty_name) {
    net_address address = resolved_loopback();
    EXPECT_FALSE(resolve_address("nonexistent.invalid", 20000, address));
    EXPECT_FALSE(address.resolved);
    EXPECT_NE(address.error, 0);
    const sockaddr_in zero = {};
    EXPECT_EQ(std::memcmp(&address.endpoint.v4, &zero, sizeof zero), 0);
    EXPECT_STREQ(address.host_name, "");

    address = resolved_loopback();
    EXPECT_FALSE(resolve_address(nullptr, 1, address));
    EXPECT_EQ(std::memcmp(&address.endpoint.v4, &zero, sizeof zero), 0);
}

TEST(resolve, concurrent_callers_get_their_own_results) {
    std::vector<std::thread> threads;
    std::vector<net_address> results(8);
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&results, i] {
            const char* name = i % 2 == 0 ? "localhost" : "127.0.0.1";
            for (int round = 0; round < 20; ++round) {
                EXPECT_TRUE(resolve_address(name, static_cast<std::uint16_t>(i), results[i]));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(dotted(results[i]), "127.0.0.1");
        EXPECT_STREQ(results[i].host_name, "localhost");
        EXPECT_EQ(results[i].endpoint.v4.sin_port, htons(static_cast<std::uint16_t>(i)));
    }
}

net_address literal(const char* text) {
    net_address address;
    EXPECT_TRUE(resolve_address(text, 20000, address)) << text;
    return address;
}

TEST(resolve, ipv6_literals_keep_their_zone_and_print_in_brackets_with_a_port) {
    const net_address loopback = literal("::1");
    EXPECT_TRUE(loopback.is_ipv6());
    EXPECT_EQ(endpoint_text(loopback), "[::1]:20000");
    const net_address zoned = literal("fe80::1%lo");
    EXPECT_EQ(host_text(zoned), "fe80::1%lo");
    EXPECT_FALSE(lacks_zone(zoned));
    EXPECT_TRUE(lacks_zone(literal("fe80::1")));
    net_address bad;
    EXPECT_FALSE(resolve_address("fe80::1%no-such-interface", 1, bad));
    EXPECT_FALSE(resolve_address("1::2::3", 1, bad));
    EXPECT_EQ(endpoint_text(unmapped(literal("::ffff:127.0.0.1"))), "127.0.0.1:20000");
}

TEST(resolve, families_take_turns_ipv6_first_each_in_its_own_order) {
    const std::vector<net_address> turns = interleave_families(
        {literal("127.0.0.1"), literal("127.0.0.2"), literal("127.0.0.3"), literal("::1"), literal("fe80::1%lo")});
    std::vector<std::string> texts;
    for (const net_address& address : turns) {
        texts.push_back(host_text(address));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"::1", "127.0.0.1", "fe80::1%lo", "127.0.0.2", "127.0.0.3"}));
}

} // namespace
} // namespace tiv
