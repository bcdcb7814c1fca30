#include <arpa/inet.h>
#include <cstring>
#include <future>
#include <gtest/gtest.h>

#include "net/loopback.h"
#include "presence/ping.h"
#include "presence/ping_job.h"
#include "presence/private_network.h"
#include "support/cli_runner.h"
#include "support/temp_home.h"

namespace tiv {
namespace {

using namespace std::chrono_literals;

net_address address_of(const char* dotted) {
    net_address address;
    EXPECT_TRUE(resolve_address(dotted, 0, address)) << dotted;
    return address;
}

std::string trimmed(const char* text) {
    std::string out(text);
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

std::vector<ping_record> records_for(std::initializer_list<const char*> addresses) {
    std::vector<ping_record> records;
    for (const char* address : addresses) {
        ping_record record;
        record.identifier = ping_identifier_for_row(records.size());
        record.destination = address_of(address);
        records.push_back(record);
    }
    return records;
}

// Skips the test when this process can open no kind of ICMP socket.
#define REQUIRE_ICMP_SOCKET()                                                                                          \
    do {                                                                                                               \
        const ping_socket probe;                                                                                       \
        if (!probe.valid()) {                                                                                          \
            GTEST_SKIP() << "no ICMP socket here (" << std::strerror(probe.open_status().code())                       \
                         << "): no CAP_NET_RAW and net.ipv4.ping_group_range excludes our groups";                     \
        }                                                                                                              \
    } while (false)

TEST(PingOnce, LoopbackAnswersOnEverySocketKindThatOpens) {
    int opened = 0;
    for (icmp_socket_kind kind : {icmp_socket_kind::raw, icmp_socket_kind::datagram}) {
        ping_socket socket(kind);
        if (!socket.valid()) {
            continue;
        }
        ++opened;
        SCOPED_TRACE(icmp_socket_kind_text(kind));
        const ping_result result = ping_once(socket, address_of("127.0.0.1"), 2000ms);
        ASSERT_EQ(result.status, PING_STATUS::replied);
        EXPECT_GE(result.round_trip, 0);
        EXPECT_EQ(result.bytes_received, 84) << "64 bytes of echo reply behind a 20-byte header";
        EXPECT_EQ(std::strlen(result.reply_source), 19U) << "padded to 19 characters";
        EXPECT_EQ(trimmed(result.reply_source), "127.0.0.1");
        EXPECT_EQ(trimmed(result.reply_destination), "127.0.0.1");
        EXPECT_EQ(result.icmp_word1 & 0xFF, icmpv4.echo_reply) << "the first byte is the type";
        if (test::has_ipv6_loopback()) {
            const ping_result v6 = ping_once(socket, address_of("::1"), 2000ms);
            ASSERT_EQ(v6.status, PING_STATUS::replied);
            EXPECT_EQ(v6.bytes_received, 104) << "64 bytes of echo reply behind a 40-byte header";
            EXPECT_EQ(trimmed(v6.reply_source), "::1");
            EXPECT_EQ(v6.icmp_word1 & 0xFF, icmpv6.echo_reply);
        }
    }
    if (opened == 0) {
        GTEST_SKIP() << "neither a raw nor a datagram ICMP socket can be opened here";
    }
}

TEST(PingOnce, EachCallTakesItsOwnReply) {
    REQUIRE_ICMP_SOCKET();
    ping_socket socket;
    const ping_result first = ping_once(socket, address_of("127.0.0.1"), 2000ms);
    const ping_result second = ping_once(socket, address_of("127.0.0.1"), 2000ms);
    ASSERT_EQ(first.status, PING_STATUS::replied);
    ASSERT_EQ(second.status, PING_STATUS::replied);
    // The sequence number, second half of word 2, comes from a counter advanced by every request.
    EXPECT_NE(first.icmp_word2 >> 16, second.icmp_word2 >> 16);
}

TEST(PingOnce, ProcessWideSocketServesConcurrentCallers) {
    REQUIRE_ICMP_SOCKET();
    const net_address loopback = address_of("127.0.0.1");
    auto other = std::async(std::launch::async, [&loopback] { return ping_once(loopback); });
    const ping_result mine = ping_once(loopback);
    const ping_result theirs = other.get();
    EXPECT_EQ(mine.status, PING_STATUS::replied);
    EXPECT_EQ(theirs.status, PING_STATUS::replied) << "neither caller overwrote the other's result";
}

TEST(PingOnce, WithoutSocketEveryPingEndsWithTheTtlStatus) {
    ping_socket none(icmp_socket_kind::none);
    ASSERT_FALSE(none.valid());
    const ping_result result = ping_once(none, address_of("127.0.0.1"), 100ms);
    EXPECT_EQ(result.status, PING_STATUS::ttl_failed);
    EXPECT_EQ(result.round_trip, -1);

    std::vector<ping_record> records = records_for({"127.0.0.1"});
    EXPECT_EQ(ping_sweep(records, none, 100ms, 64), 1);
    EXPECT_EQ(records[0].result.status, PING_STATUS::ttl_failed);
    EXPECT_EQ(records[0].send_time, -1);
    EXPECT_FALSE(records[0].replied);
}

TEST(PingJob, AnsweringFriendsNeedOneSweep) {
    REQUIRE_ICMP_SOCKET();
    const auto job = start_ping_job(records_for({"127.0.0.1", "127.0.0.2", "127.0.0.3"}));
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(job->wait_until_done(5s));
    EXPECT_EQ(job->result(), 0);
    EXPECT_EQ(job->sweeps(), 1);
    const std::vector<ping_record> records = job->records();
    for (const ping_record& record : records) {
        EXPECT_TRUE(record.replied);
        EXPECT_EQ(record.result.status, PING_STATUS::replied);
        EXPECT_GE(record.result.round_trip, 0);
        EXPECT_EQ(record.send_time, records[0].send_time) << "one send time for the whole sweep";
        char dotted[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &record.destination.endpoint.v4.sin_addr, dotted, sizeof dotted);
        EXPECT_EQ(trimmed(record.result.reply_source), dotted) << "each reply went to its own record";
    }
}

TEST(PingJob, FriendsOfBothFamiliesAnswerInOneSweep) {
    REQUIRE_ICMP_SOCKET();
    SKIP_WITHOUT_IPV6();
    std::vector<ping_record> records = records_for({"::1", "127.0.0.1"});
    for (ping_record& record : records) {
        record.destination.set_port(20000); // as a friend's address carries it
    }
    const auto job = start_ping_job(records);
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(job->wait_until_done(5s));
    EXPECT_EQ(job->sweeps(), 1);
    for (const ping_record& record : job->records()) {
        EXPECT_EQ(record.result.status, PING_STATUS::replied) << host_text(record.destination);
        EXPECT_EQ(trimmed(record.result.reply_source), host_text(record.destination));
    }
}

TEST(PingJob, UnresolvedFriendFailsToSendWhileOthersAnswer) {
    REQUIRE_ICMP_SOCKET();
    std::vector<ping_record> records = records_for({"127.0.0.1"});
    records.emplace_back().identifier = ping_identifier_for_row(1); // no address: its send must fail
    const auto job = start_ping_job(records, {100ms, 64, 0});
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(job->wait_until_done(5s));
    const std::vector<ping_record> done = job->records();
    EXPECT_EQ(done[0].result.status, PING_STATUS::replied);
    EXPECT_EQ(done[1].result.status, PING_STATUS::send_failed);
    EXPECT_EQ(job->result(), 1);
}

TEST(PingJob, TwoJobsAtOnceKeepTheirOwnRecords) {
    REQUIRE_ICMP_SOCKET();
    // The same identifiers in both jobs: each must still take only the replies to its own requests.
    const auto first = start_ping_job(records_for({"127.0.0.4", "127.0.0.5", "127.0.0.6"}));
    const auto second = start_ping_job(records_for({"127.0.0.7", "127.0.0.8"}));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(first->wait_until_done(5s));
    ASSERT_TRUE(second->wait_until_done(5s));
    for (const ping_job* job : {first.get(), second.get()}) {
        EXPECT_EQ(job->result(), 0);
        for (const ping_record& record : job->records()) {
            char dotted[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &record.destination.endpoint.v4.sin_addr, dotted, sizeof dotted);
            EXPECT_EQ(record.result.status, PING_STATUS::replied) << dotted;
            EXPECT_EQ(trimmed(record.result.reply_source), dotted);
        }
    }
}

TEST(PingJob, DestroyedWhileRunningStopsPromptly) {
    REQUIRE_ICMP_SOCKET();
    // A friend without an address never replies: the job would sweep four times for 10 seconds each.
    std::vector<ping_record> records(1);
    records[0].identifier = ping_identifier_for_row(0);
    auto job = start_ping_job(records, {10s, 64, 3});
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(test::wait_for([&] { return job->records()[0].send_time != 0 || job->done(); }, 5s));
    EXPECT_FALSE(job->done());
    const auto before = std::chrono::steady_clock::now();
    job.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s) << "the thread heeds the stop between reads";
}

// The tests below run in a network namespace of their own (root only), where the kernel's ICMP settings may be
// changed for the test alone. An unanswered ping is tested there, against a loopback that ignores echo requests,
// never against an address off this machine.
void expect_private_run(int code) {
    if (code == test::private_network_unavailable) {
        GTEST_SKIP() << "no network namespace of our own can be made here (needs root)";
    }
    EXPECT_EQ(code, 0) << "the check numbered " << code << " failed in the private network";
}

TEST(PingPrivateNetwork, SilentHostTimesOut) {
    expect_private_run(test::run_in_private_network({.ignore_echo = true}, [] {
        ping_socket socket;
        if (!socket.valid()) {
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        if (ping_once(socket, address_of("127.0.0.1"), 300ms).status != PING_STATUS::receive_timed_out) {
            return 2;
        }
        if (std::chrono::steady_clock::now() - start > 2s) {
            return 3;
        }
        const auto job = start_ping_job(records_for({"127.0.0.1"}), {100ms, 64, 3});
        if (job == nullptr || !job->wait_until_done(10s)) {
            return 4;
        }
        if (job->sweeps() != 4 || job->result() != 1) {
            return 5;
        }
        return job->records()[0].result.status == PING_STATUS::waiting ? 0 : 6;
    }));
}

TEST(PingPrivateNetwork, DatagramSocketServesWithoutTheRawRight) {
    expect_private_run(test::run_in_private_network({.unprivileged_ping = true, .drop_raw_right = true}, [] {
        ping_socket socket;
        if (socket.kind() != icmp_socket_kind::datagram) {
            return 1;
        }
        if (ping_once(socket, address_of("127.0.0.1"), 2000ms).status != PING_STATUS::replied ||
            (test::has_ipv6_loopback() &&
             ping_once(socket, address_of("::1"), 2000ms).status != PING_STATUS::replied)) {
            return 2;
        }
        // The kernel owns the identifier of this socket kind; the records must still get their own replies.
        const auto job = start_ping_job(records_for({"127.0.0.1", "127.0.0.2", "127.0.0.3"}));
        if (job == nullptr || !job->wait_until_done(5s) || job->result() != 0 || job->sweeps() != 1) {
            return 3;
        }
        for (const ping_record& record : job->records()) {
            char dotted[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &record.destination.endpoint.v4.sin_addr, dotted, sizeof dotted);
            if (trimmed(record.result.reply_source) != dotted) {
                return 4;
            }
        }
        return 0;
    }));
}

TEST(PingPrivateNetwork, NeitherSocketKindGivesTheStatusAndTheAdvice) {
    expect_private_run(test::run_in_private_network({.drop_raw_right = true}, [] {
        ping_socket socket;
        if (socket.valid() || socket.open_status().ok()) {
            return 1;
        }
        if (ping_once(socket, address_of("127.0.0.1"), 100ms).status != PING_STATUS::ttl_failed) {
            return 2;
        }
        const test::cli_result cli = test::run_cli({"ping", "127.0.0.1"});
        if (cli.code != 1 || cli.err.find("setcap cap_net_raw+ep") == std::string::npos ||
            cli.err.find("ping_group_range") == std::string::npos) {
            return 3;
        }
        return 0;
    }));
}

} // namespace
} // namespace tiv
