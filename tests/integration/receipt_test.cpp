#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "crypto/session_key_types.h"
#include "net/socket/net_socket.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/limited_disk.h"
#include "support/temp_home.h"
#include "support/test_identity.h"

namespace tiv::test {
namespace {

namespace fs = std::filesystem;

// Stands between the two programs as a NAT or a proxy may: however the receiver's side ends, by a reset or in
// good order, the sender's side is closed in good order. A reset never reaches the sender, so only what the
// receiver says can tell it the parcel failed. It can also hold the sender's data once a number of bytes has
// passed, until the test releases it.
class orderly_relay {
public:
    explicit orderly_relay(int target_port) : m_nTarget(target_port) {
        net_address local;
        if (!resolve_address("127.0.0.1", 0, local) || !open_tcp_socket(m_oListener) ||
            !bind_socket(m_oListener, local) || !listen_socket(m_oListener)) {
            return;
        }
        m_oAccepting = std::thread([this] { accept_loop(); });
    }
    orderly_relay(const orderly_relay&) = delete;
    orderly_relay& operator=(const orderly_relay&) = delete;
    ~orderly_relay() {
        m_bStop = true;
        release();
        if (m_oAccepting.joinable()) {
            m_oAccepting.join();
        }
        std::lock_guard guard(m_oLock);
        for (std::thread& pump : m_aPumps) {
            pump.join();
        }
    }

    [[nodiscard]] int port() const {
        return m_oListener.handle >= 0 ? ntohs(m_oListener.address.endpoint.v4.sin_port) : 0;
    }
    // The sender's data stops passing once this many bytes have gone through.
    void hold_after(std::uint64_t bytes) { m_nHoldAfter = bytes; }
    [[nodiscard]] bool holding() const { return m_bHolding; }
    void release() {
        m_nHoldAfter = UINT64_MAX;
        m_bHolding = false;
    }

private:
    void accept_loop() {
        while (!m_bStop) {
            pollfd waiting{m_oListener.handle, POLLIN, 0};
            if (::poll(&waiting, 1, 100) <= 0) {
                continue;
            }
            auto accepted = accept_connection(m_oListener, nullptr);
            auto to_receiver = std::make_unique<net_socket>();
            net_address target;
            if (!accepted || !resolve_address("127.0.0.1", static_cast<std::uint16_t>(m_nTarget), target) ||
                !open_tcp_socket(*to_receiver) || !set_send_timeout(*to_receiver, 10000) ||
                !connect_socket(*to_receiver, target)) {
                continue;
            }
            std::lock_guard guard(m_oLock);
            m_aPumps.emplace_back([this, sender = std::move(accepted.value()), receiver = std::move(to_receiver)] {
                pump(*sender, *receiver);
            });
        }
    }

    void pump(net_socket& sender, net_socket& receiver) {
        bool sender_open = true;
        bool receiver_open = true;
        bool receiver_writable = true;
        std::uint64_t forwarded = 0;
        char piece[65536];
        while ((sender_open || receiver_open) && !m_bStop) {
            m_bHolding = sender_open && forwarded >= m_nHoldAfter;
            pollfd ends[2] = {{sender.handle, static_cast<short>(sender_open && !m_bHolding ? POLLIN : 0), 0},
                              {receiver.handle, static_cast<short>(receiver_open ? POLLIN : 0), 0}};
            if (::poll(ends, 2, 50) <= 0) {
                continue;
            }
            if (ends[1].revents != 0) {
                const ssize_t got = ::recv(receiver.handle, piece, sizeof piece, 0);
                if (got > 0) {
                    (void)send_all(sender, piece, static_cast<int>(got));
                } else {
                    // Whatever ended the receiver's side, the sender sees an orderly end.
                    receiver_open = false;
                    ::shutdown(sender.handle, SHUT_WR);
                }
            }
            if (ends[0].revents != 0) {
                const ssize_t got = ::recv(sender.handle, piece, sizeof piece, 0);
                if (got > 0) {
                    forwarded += static_cast<std::uint64_t>(got);
                    receiver_writable = receiver_writable && send_all(receiver, piece, static_cast<int>(got)).ok();
                } else {
                    sender_open = false;
                    ::shutdown(receiver.handle, SHUT_WR);
                }
            }
        }
    }

    int m_nTarget;
    net_socket m_oListener;
    std::thread m_oAccepting;
    std::mutex m_oLock; // guards m_aPumps
    std::vector<std::thread> m_aPumps;
    std::atomic<bool> m_bStop{false};
    std::atomic<std::uint64_t> m_nHoldAfter{UINT64_MAX};
    std::atomic<bool> m_bHolding{false};
};

// Alice sends to Bob, pinned friends both, through a relay that never passes a reset on.
class ReceiptThroughRelay : public peer_pair_test {
protected:
    void SetUp() override {
        peer_pair_test::SetUp();
        fs::remove_all(s_pBob->home() + "/PBoxes/Alice");
        for (test_identity* person : {s_pAlice, s_pBob}) {
            for (const std::string& name : list_profiles(person->settings())) {
                ASSERT_TRUE(delete_profile(person->settings(), name));
            }
        }
        ASSERT_TRUE(save_profile(s_pAlice->settings(), s_pBob->as_friend(all_session_key_types, true)));
        bob_accepts_alice(unlimited);
    }

    static void bob_accepts_alice(std::uint32_t max_size) {
        friend_profile alice = s_pAlice->as_friend(all_session_key_types, true);
        alice.max_file_size = max_size;
        (void)delete_profile(s_pBob->settings(), "Alice");
        ASSERT_TRUE(save_profile(s_pBob->settings(), alice));
    }

    // Bob listens; the relay in front of him is what Alice reaches.
    void listen() {
        const int port = free_loopback_port();
        ASSERT_NE(port, 0);
        ASSERT_TRUE(write_dword_setting(s_pBob->settings().machine_key(), names::interface_ip_port,
                                        static_cast<std::uint32_t>(port)));
        m_pListener = std::make_unique<peer_process>(s_pBob->home(), std::vector<std::string>{"listen"},
                                                     m_strWork + "/listen.out");
        ASSERT_TRUE(m_pListener->wait_for_output("Listening on 127.0.0.1:" + std::to_string(port), 15000));
        m_pRelay = std::make_unique<orderly_relay>(port);
        ASSERT_NE(m_pRelay->port(), 0);
    }

    std::unique_ptr<peer_process> start_send(const std::string& file) {
        return std::make_unique<peer_process>(
            s_pAlice->home(),
            std::vector<std::string>{"send", "Bob", file, "--to=127.0.0.1:" + std::to_string(m_pRelay->port())},
            m_strWork + "/send.out");
    }

    // The exit code of a whole send, its output in m_strSent.
    int send(const std::string& file) {
        std::unique_ptr<peer_process> sending = start_send(file);
        const int code = sending->wait(90000);
        m_strSent = sending->output();
        return code;
    }

    std::string file(const std::string& name, std::size_t size) {
        const std::string path = m_strWork + "/" + name;
        write_random_file(path, size);
        return path;
    }

    [[nodiscard]] std::vector<std::string> bobs_box() const {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(s_pBob->home() + "/PBoxes/Alice", ignored)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    std::unique_ptr<peer_process> m_pListener;
    std::unique_ptr<orderly_relay> m_pRelay;
    std::string m_strSent;
};

TEST_F(ReceiptThroughRelay, RefusedParcelFailsWithTheReceiversReasonAndAStoredOneSucceeds) {
    bob_accepts_alice(1000);
    listen();
    EXPECT_EQ(send(file("big.bin", 5'000'000)), 1) << m_strSent;
    EXPECT_NE(m_strSent.find("failed, status 4 (the receiver refused the file: the file of 5000000 bytes is larger "
                             "than the maximum of 1000 bytes)"),
              std::string::npos)
        << m_strSent;
    const std::string small = file("small.bin", 1000);
    EXPECT_EQ(send(small), 0) << m_strSent;
    EXPECT_EQ(file_sha256(s_pBob->home() + "/PBoxes/Alice/small.bin"), file_sha256(small));
}

// The file is cut to nothing while the relay holds the data, so the sender's reading ends early.
TEST_F(ReceiptThroughRelay, FileThatShrankWhileBeingSentIsNotReportedAsSent) {
    listen();
    const std::string shrinking = file("shrinking.bin", 32 << 20);
    m_pRelay->hold_after(1 << 20);
    std::unique_ptr<peer_process> sending = start_send(shrinking);
    ASSERT_TRUE(wait_for([&] { return m_pRelay->holding(); }, std::chrono::seconds(30))) << sending->output();
    fs::resize_file(shrinking, 0);
    m_pRelay->release();
    EXPECT_EQ(sending->wait(60000), 1) << sending->output();
    EXPECT_NE(sending->output().find("(the receiver did not keep the file: the file changed size while it was being "
                                     "sent: "),
              std::string::npos)
        << sending->output();
    EXPECT_NE(sending->output().find(" were announced)"), std::string::npos) << sending->output();
    EXPECT_TRUE(bobs_box().empty());
}

// Bob's disk is full after 1 MiB; he runs in this process, so his writes go to a disk the test controls.
TEST_F(ReceiptThroughRelay, ParcelTheReceiverCouldNotWriteIsNotReportedAsSent) {
    constexpr std::uint64_t room = 1 << 20;
    const receiver_in_process bob(*s_pBob, std::make_shared<limited_disk>(room));
    ASSERT_TRUE(bob.started()) << bob.started().text();
    m_pRelay = std::make_unique<orderly_relay>(bob.port());
    ASSERT_NE(m_pRelay->port(), 0);

    EXPECT_EQ(send(file("large.bin", 4 * room)), 1) << m_strSent;
    EXPECT_NE(m_strSent.find("(the receiver did not keep the file: the receiver's disk is full after 1048576 bytes)"),
              std::string::npos)
        << m_strSent;
    EXPECT_TRUE(bobs_box().empty());
}

} // namespace
} // namespace tiv::test
