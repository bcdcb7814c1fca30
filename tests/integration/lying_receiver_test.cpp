#include <arpa/inet.h>
#include <cstdint>
#include <gtest/gtest.h>
#include <poll.h>

#include "crypto/negotiating_authentycryptor.h"
#include "crypto/session_key_types.h"
#include "net/socket/socket_link.h"
#include "net/stream/parcel_link.h"
#include "net/stream/stream_sending.h"
#include "net/transfer/parcel_receipt.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "support/test_identity.h"

namespace tiv::test {
namespace {

using frames = std::vector<std::pair<frame_type, std::vector<std::uint8_t>>>;

// Plays a receiver of the version given that answers by hand, when it likes and what it likes, lies included: it
// authenticates as Bob, then reads and answers frame by frame.
class lying_receiver {
public:
    explicit lying_receiver(test_identity& bob, negotiating_authentycryptor::version version =
                                                    negotiating_authentycryptor::version::with_stream)
        : m_oCipher(bob.provider(), bob.settings(), version) {
        net_address local{};
        EXPECT_TRUE(resolve_address("127.0.0.1", 0, local) && open_tcp_socket(m_oListener) &&
                    bind_socket(m_oListener, local) && listen_socket(m_oListener));
    }
    ~lying_receiver() { close_socket(m_oListener); }

    [[nodiscard]] int port() const { return ntohs(m_oListener.address.endpoint.v4.sin_port); }

    bool accept() {
        pollfd waiting{m_oListener.handle, POLLIN, 0};
        if (::poll(&waiting, 1, 20000) != 1) {
            return false;
        }
        auto accepted = accept_connection(m_oListener, nullptr);
        if (!accepted) {
            return false;
        }
        m_pConnection = std::move(accepted.value());
        socket_link link(*m_pConnection);
        friend_profile sender;
        m_pLink = std::make_unique<parcel_link>(*m_pConnection, m_oCipher);
        return m_oCipher.AuthenticateAsReceiver(link, sender) && m_oCipher.carries_parcel_stream();
    }

    // Reads up to a frame of type `until`, or until `enough` bytes of data came; false when the stream ended first.
    bool read_to(frame_type until, std::uint64_t enough = UINT64_MAX) {
        for (std::uint64_t data = 0; data < enough;) {
            frame_type type{};
            std::span<const std::uint8_t> payload;
            if (m_pLink->receive(type, payload, 20000) != parcel_link::arrival::frame) {
                return false;
            }
            if (type == until) {
                return true;
            }
            data += type == frame_type::data ? payload.size() : 0;
        }
        return true;
    }

    // Whether the sender sends nothing more for `wait_ms`.
    bool quiet_for(int wait_ms) {
        frame_type type{};
        std::span<const std::uint8_t> payload;
        pollfd more{m_pConnection->handle, POLLIN, 0};
        return m_pLink->receive(type, payload, 0) == parcel_link::arrival::nothing && ::poll(&more, 1, wait_ms) == 0;
    }

    // The answers go out together, as one piece of the stream.
    bool answer(const frames& answers) {
        std::vector<std::uint8_t> plain;
        for (const auto& [type, payload] : answers) {
            append_frame(plain, type, payload);
        }
        return m_pLink->send(plain);
    }

    // Once the sender has ended the connection this end closes too, as the sender waits for it to.
    void hang_up() {
        while (read_to(frame_type::end)) {
        }
        m_pLink.reset();
        close_socket(*m_pConnection);
    }

private:
    net_socket m_oListener;
    negotiating_authentycryptor m_oCipher;
    std::unique_ptr<net_socket> m_pConnection;
    std::unique_ptr<parcel_link> m_pLink;
};

const frames stored{{frame_type::receipt, stored_receipt().encode()}};

class LyingReceiver : public peer_pair_test {
protected:
    void SetUp() override {
        peer_pair_test::SetUp();
        for (auto [person, other] : {std::pair{s_pAlice, s_pBob}, std::pair{s_pBob, s_pAlice}}) {
            friend_profile profile = other->as_friend(all_session_key_types, true);
            profile.receipt_enabled = 1;
            (void)delete_profile(person->settings(), profile.name);
            ASSERT_TRUE(save_profile(person->settings(), profile));
        }
    }

    // Alice sends files of these names and sizes to a receiver that answers as `lie` does. The send must fail, and
    // every file with the reason.
    template <typename Lie>
    void expect_out_of_turn(const std::vector<std::pair<std::string, std::size_t>>& files, Lie lie) {
        lying_receiver bob(*s_pBob);
        std::vector<std::string> arguments{"send", "Bob", "--to=127.0.0.1:" + std::to_string(bob.port())};
        for (const auto& [name, size] : files) {
            arguments.push_back(m_strWork + "/" + name);
            write_random_file(arguments.back(), size);
        }
        peer_process sending(s_pAlice->home(), arguments, m_strWork + "/send-" + files.front().first + ".out");
        ASSERT_TRUE(bob.accept()) << sending.output();
        lie(bob);
        bob.hang_up();
        EXPECT_EQ(sending.wait(60000), 1);
        m_strSent = sending.output();
        for (const auto& file : files) {
            const std::size_t line = m_strSent.find(m_strWork + "/" + file.first + ":");
            ASSERT_NE(line, std::string::npos) << m_strSent;
            const std::string said = m_strSent.substr(line, m_strSent.find('\n', line) - line);
            EXPECT_NE(said.find(": failed, status 5 (the receiver answered out of turn)"), std::string::npos) << said;
            EXPECT_EQ(said.find("COMPLETED"), std::string::npos) << said;
        }
    }

    // Alice sends files of these names to a receiver of `version` that answers as `script` does; what the send
    // said of each file.
    template <typename Script>
    std::vector<std::string> send_to(negotiating_authentycryptor::version version,
                                     const std::vector<std::string>& names, Script script) {
        lying_receiver bob(*s_pBob, version);
        std::vector<std::string> arguments{"send", "Bob", "--to=127.0.0.1:" + std::to_string(bob.port())};
        for (const std::string& name : names) {
            arguments.push_back(m_strWork + "/" + name);
            write_random_file(arguments.back(), 1000);
        }
        peer_process sending(s_pAlice->home(), arguments, m_strWork + "/send-" + names.front() + ".out");
        EXPECT_TRUE(bob.accept()) << sending.output();
        script(bob);
        bob.hang_up();
        (void)sending.wait(60000);
        std::vector<std::string> said;
        for (const std::string& name : names) {
            const std::string output = sending.output();
            const std::size_t line = output.find(m_strWork + "/" + name + ":");
            said.push_back(line == std::string::npos ? output : output.substr(line, output.find('\n', line) - line));
        }
        return said;
    }

    std::string m_strSent;
};

const frames refused{
    {frame_type::receipt, refusal_receipt(receipt_reason::disk_full, transfer_status::receive, "full disk").encode()}};

TEST_F(LyingReceiver, AnAnswerOutOfTurnFailsTheSendAndNoFileTakesAnotherOnesVerdict) {
    // "Stored" where the offer of a kept part belongs, before a byte of the file.
    expect_out_of_turn({{"offered", resume_threshold}}, [](lying_receiver& bob) {
        ASSERT_TRUE(bob.read_to(frame_type::file));
        ASSERT_TRUE(bob.answer(stored));
    });
    // "Stored" while the file is still under way: larger than what the connection's buffers hold, so it still is.
    expect_out_of_turn({{"midway", 50 << 20}}, [](lying_receiver& bob) {
        ASSERT_TRUE(bob.read_to(frame_type::file));
        ASSERT_TRUE(bob.answer({{frame_type::offer, encode_offer({})}}));
        ASSERT_TRUE(bob.read_to(frame_type::file_end, 200'000));
        ASSERT_TRUE(bob.answer(stored));
    });
    // One answer too many for the first file, then a refusal and a receipt that would each be the next file's.
    expect_out_of_turn({{"first", 100}, {"second", 200}, {"third", 300}}, [&](lying_receiver& bob) {
        for (const frames& answers : {frames{stored[0], stored[0]}, refused, stored}) {
            if (!bob.read_to(frame_type::file_end) || !bob.answer(answers)) {
                return;
            }
        }
    });
    EXPECT_EQ(m_strSent.find("full disk"), std::string::npos) << m_strSent;
}

// A receiver of the pipelined version gets every file before it answers any: the sender does not wait, and each
// file still takes the verdict answered for it, in order.
TEST_F(LyingReceiver, APipelinedSenderGoesOnBeforeTheReceiptsAndEachFileKeepsItsOwnVerdict) {
    const std::vector<std::string> said =
        send_to(negotiating_authentycryptor::version::pipelined, {"one", "two", "three"}, [](lying_receiver& bob) {
            for (int file = 0; file < 3; ++file) {
                ASSERT_TRUE(bob.read_to(frame_type::file_end)) << "file " << file << " did not come before a receipt";
            }
            ASSERT_TRUE(bob.answer({stored[0], refused[0], stored[0]}));
        });
    EXPECT_NE(said[0].find("COMPLETED"), std::string::npos) << said[0];
    EXPECT_NE(said[1].find("full disk"), std::string::npos) << said[1];
    EXPECT_NE(said[2].find("COMPLETED"), std::string::npos) << said[2];
}

// The receipts are the verdict: once they are in, the send ends, however long the receiver takes to close its end
// of the connection (a round trip at the least, the whole time-out at the most).
TEST_F(LyingReceiver, ASendEndsWithItsReceiptsWithoutWaitingForTheReceiverToClose) {
    lying_receiver bob(*s_pBob, negotiating_authentycryptor::version::pipelined);
    const std::string file = m_strWork + "/kept-open";
    write_random_file(file, 1000);
    peer_process sending(s_pAlice->home(), {"send", "Bob", "--to=127.0.0.1:" + std::to_string(bob.port()), file},
                         m_strWork + "/send-kept-open.out");
    ASSERT_TRUE(bob.accept()) << sending.output();
    ASSERT_TRUE(bob.read_to(frame_type::file_end));
    ASSERT_TRUE(bob.answer(stored));
    ASSERT_TRUE(bob.read_to(frame_type::end));
    // Well within the sender's 10 s time-out, with the connection still open.
    EXPECT_EQ(sending.wait(5000), 0) << sending.output();
    bob.hang_up();
    EXPECT_NE(sending.output().find("COMPLETED"), std::string::npos) << sending.output();
}

// A receiver of the version before sees what it always saw: the next file only after the last one's receipt.
TEST_F(LyingReceiver, AVersion3ReceiverGetsTheNextFileOnlyOnceTheLastOneIsAnswered) {
    const std::vector<std::string> said =
        send_to(negotiating_authentycryptor::version::with_stream, {"first", "second"}, [](lying_receiver& bob) {
            ASSERT_TRUE(bob.read_to(frame_type::file_end));
            EXPECT_TRUE(bob.quiet_for(500)) << "the second file came before the first one's receipt";
            ASSERT_TRUE(bob.answer(stored));
            ASSERT_TRUE(bob.read_to(frame_type::file_end));
            ASSERT_TRUE(bob.answer(refused));
        });
    EXPECT_NE(said[0].find("COMPLETED"), std::string::npos) << said[0];
    EXPECT_NE(said[1].find("full disk"), std::string::npos) << said[1];
}

} // namespace
} // namespace tiv::test
