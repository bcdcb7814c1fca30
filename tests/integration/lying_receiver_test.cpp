#include <arpa/inet.h>
#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>

#include "crypto/negotiating_authentycryptor.h"
#include "crypto/session_key_types.h"
#include "net/parcel_frames.h"
#include "net/parcel_link.h"
#include "net/parcel_receipt.h"
#include "net/socket_link.h"
#include "peer_pair.h"
#include "peer_process.h"
#include "settings/setting_value.h"
#include "support/test_identity.h"

namespace tiv::test {
namespace {

using version = negotiating_authentycryptor::version;

// Plays a receiver that lies about what it stored: it authenticates as Bob, then answers by hand.
class lying_receiver {
public:
    explicit lying_receiver(test_identity& bob) : m_oCipher(bob.provider(), bob.settings(), version::with_stream) {
        net_address local{};
        m_bListening = resolve_address("127.0.0.1", 0, local) && open_tcp_socket(m_oListener) &&
                       bind_socket(m_oListener, local) == bind_succeeded && listen_socket(m_oListener);
    }
    ~lying_receiver() {
        m_pLink.reset();
        if (m_pConnection != nullptr) {
            close_socket(*m_pConnection);
        }
        close_socket(m_oListener);
    }

    [[nodiscard]] int port() const { return m_bListening ? ntohs(m_oListener.address.sockaddr.sin_port) : 0; }

    // The sender's connection, authenticated; false when none came.
    bool accept() {
        pollfd waiting{m_oListener.handle, POLLIN, 0};
        if (::poll(&waiting, 1, 20000) != 1 || (m_pConnection = accept_connection(m_oListener, nullptr)) == nullptr) {
            return false;
        }
        socket_link link(*m_pConnection);
        friend_profile sender;
        if (!m_oCipher.AuthenticateAsReceiver(link, sender) || !m_oCipher.carries_parcel_stream()) {
            return false;
        }
        m_pLink = std::make_unique<parcel_link>(*m_pConnection, m_oCipher);
        return true;
    }

    // The next file's record; none once the sender ended the stream or the connection.
    std::optional<file_frame> next_file() {
        frame_type type{};
        std::span<const std::uint8_t> payload;
        if (m_pLink->receive(type, payload, 20000) != parcel_link::arrival::frame || type != frame_type::file) {
            return std::nullopt;
        }
        return decode_file(payload);
    }

    // Reads the file's data until its end or until `enough` bytes came; false when the connection ended first.
    bool take_data(std::uint64_t enough = UINT64_MAX) {
        for (std::uint64_t taken = 0; taken < enough;) {
            frame_type type{};
            std::span<const std::uint8_t> payload;
            if (m_pLink->receive(type, payload, 20000) != parcel_link::arrival::frame) {
                return false;
            }
            if (type == frame_type::file_end) {
                return true;
            }
            taken += type == frame_type::data ? payload.size() : 0;
        }
        return true;
    }

    // The answers go out together, as one piece of the stream.
    bool answer(const std::vector<std::pair<frame_type, std::vector<std::uint8_t>>>& frames) {
        std::vector<std::uint8_t> plain;
        for (const auto& [type, payload] : frames) {
            append_frame(plain, type, payload);
        }
        return m_pLink->send(plain);
    }

    // Whether the sender ended the connection (after whatever it still sent) within the time-out; this end closes
    // then, as the sender waits for it to.
    bool ended_by_sender() {
        parcel_link::arrival arrival = parcel_link::arrival::frame;
        for (int frames = 0; frames < 1000 && arrival == parcel_link::arrival::frame; ++frames) {
            frame_type type{};
            std::span<const std::uint8_t> payload;
            arrival = m_pLink->receive(type, payload, 20000);
        }
        m_pLink.reset();
        close_socket(*m_pConnection);
        return arrival == parcel_link::arrival::closed || arrival == parcel_link::arrival::broken;
    }

private:
    net_socket m_oListener;
    bool m_bListening = false;
    negotiating_authentycryptor m_oCipher;
    std::unique_ptr<net_socket> m_pConnection;
    std::unique_ptr<parcel_link> m_pLink;
};

const std::pair<frame_type, std::vector<std::uint8_t>> stored{frame_type::receipt, stored_receipt().encode()};
constexpr const char* out_of_turn_line = ": failed, status 5 (the receiver answered out of turn)";

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

    // Alice sends `files` (made of the given sizes) to `bob`, who answers as `lie` says; the send's exit code, and
    // its output in m_strSent.
    template <typename Lie>
    int send_to(lying_receiver& bob, const std::vector<std::pair<std::string, std::size_t>>& files, Lie lie) {
        std::vector<std::string> arguments{"send", "Bob"};
        for (const auto& [name, size] : files) {
            arguments.push_back(m_strWork + "/" + name);
            write_random_file(arguments.back(), size);
        }
        arguments.push_back("--to=127.0.0.1:" + std::to_string(bob.port()));
        peer_process sending(s_pAlice->home(), arguments, m_strWork + "/send-" + files.front().first + ".out");
        EXPECT_TRUE(bob.accept()) << sending.output();
        lie();
        EXPECT_TRUE(bob.ended_by_sender());
        const int code = sending.wait(60000);
        m_strSent = sending.output();
        return code;
    }

    std::string m_strSent;
};

// Each lie ends the send failed with the reason, and no file is reported arrived on the strength of an answer that
// was not its own.
TEST_F(LyingReceiver, AnAnswerOutOfTurnFailsTheSendAndNoFileTakesAnotherOnesVerdict) {
    {
        // "Stored" where the offer of a kept part belongs, before a byte of the file.
        lying_receiver bob(*s_pBob);
        ASSERT_NE(bob.port(), 0);
        EXPECT_NE(send_to(bob, {{"offered.bin", 1 << 20}},
                          [&] {
                              const std::optional<file_frame> file = bob.next_file();
                              ASSERT_TRUE(file && file->resumable);
                              ASSERT_TRUE(bob.answer({stored}));
                          }),
                  0);
        EXPECT_NE(m_strSent.find("offered.bin" + std::string(out_of_turn_line)), std::string::npos) << m_strSent;
    }
    {
        // "Stored" while the file is still under way.
        lying_receiver bob(*s_pBob);
        EXPECT_NE(send_to(bob, {{"midway.bin", 5 << 20}},
                          [&] {
                              ASSERT_TRUE(bob.next_file());
                              ASSERT_TRUE(bob.answer({{frame_type::offer, encode_offer({})}}));
                              ASSERT_TRUE(bob.take_data(200'000));
                              ASSERT_TRUE(bob.answer({stored}));
                          }),
                  0);
        EXPECT_NE(m_strSent.find("midway.bin" + std::string(out_of_turn_line)), std::string::npos) << m_strSent;
    }
    {
        // One answer too many for the first file; the second is refused and the third stored, in turn.
        lying_receiver bob(*s_pBob);
        const std::vector<std::pair<frame_type, std::vector<std::uint8_t>>> refused{
            {frame_type::receipt,
             refusal_receipt(receipt_reason::disk_full, 6, "the disk of the second file is full").encode()}};
        EXPECT_NE(send_to(bob, {{"first", 100}, {"second", 200}, {"third", 300}},
                          [&] {
                              for (const auto& answers : {std::vector{stored, stored}, refused, std::vector{stored}}) {
                                  if (!bob.next_file() || !bob.take_data() || !bob.answer(answers)) {
                                      return;
                                  }
                              }
                          }),
                  0);
        for (const char* file : {"first", "second", "third"}) {
            const std::size_t line = m_strSent.find(m_strWork + "/" + file + ":");
            ASSERT_NE(line, std::string::npos) << m_strSent;
            const std::string said = m_strSent.substr(line, m_strSent.find('\n', line) - line);
            EXPECT_NE(said.find(out_of_turn_line), std::string::npos) << said;
            EXPECT_EQ(said.find("COMPLETED"), std::string::npos) << said;
        }
        EXPECT_EQ(m_strSent.find("the disk of the second file is full"), std::string::npos) << m_strSent;
    }
}

} // namespace
} // namespace tiv::test
