// Plays a friend who tries to take the receiver's disk and processor, round after round, for as long as it is told:
// broken transfers of large files that each want a kept part, a file the sender itself abandons, two dozen
// connections at once against the count, a folder of tens of thousands of empty directories followed by one-byte
// parcels. It authenticates for real, with the keys of the home in QUORVEL_HOME, and writes the parcel stream's
// frames by hand. hostile_soak.sh runs it beside a listener and a well-behaved friend.
//
// Usage: QUORVEL_HOME=HOME hostile_friend FRIEND PORT SECONDS
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/internal/settings/identity_service.h"
#include "crypto/crypto_provider.h"
#include "crypto/negotiating_authentycryptor.h"
#include "net/socket/net_address.h"
#include "net/socket/net_socket.h"
#include "net/socket/socket_link.h"
#include "net/stream/parcel_frames.h"
#include "net/stream/parcel_link.h"
#include "net/transfer/parcel_receipt.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"

namespace {

using namespace tiv;
using clock_type = std::chrono::steady_clock;

struct identity {
    qvl_settings_data settings;
    crypto_provider provider;
    friend_profile receiver{};
};

// One authenticated parcel stream to the receiver; not ready when it could not be opened.
class stream {
public:
    stream(identity& self, std::uint16_t port)
        : m_oCipher(self.provider, self.settings, negotiating_authentycryptor::version::with_stream) {
        net_address destination{};
        m_bReady = resolve_address("127.0.0.1", port, destination) && open_tcp_socket(m_oSocket) &&
                   connect_socket(m_oSocket, destination);
        socket_link link(m_oSocket);
        m_bReady = m_bReady && m_oCipher.AuthenticateAsSender(link, self.receiver) && m_oCipher.carries_parcel_stream();
        m_pLink = std::make_unique<parcel_link>(m_oSocket, m_oCipher);
    }
    stream(const stream&) = delete;
    stream& operator=(const stream&) = delete;
    ~stream() { close_socket(m_oSocket); }

    [[nodiscard]] bool ready() const { return m_bReady; }
    parcel_link& link() { return *m_pLink; }

    // Whether the receiver answered with a receipt that stored the file; false for a refusal or a broken stream.
    bool stored() {
        frame_type type{};
        std::span<const std::uint8_t> payload;
        parcel_receipt receipt;
        std::size_t used = 0;
        return m_pLink->receive(type, payload, 20000) == parcel_link::arrival::frame && type == frame_type::receipt &&
               decode_receipt(payload, receipt, used) == receipt_parse::complete && receipt.stored();
    }

    bool tiny_file(const std::string& name) {
        static constexpr std::uint8_t byte[1] = {'x'};
        std::vector<std::uint8_t> plain;
        append_frame(plain, frame_type::file,
                     encode_file({.path = name, .size = 1, .mtime_ns = 0, .resumable = false}));
        append_frame(plain, frame_type::data, byte);
        append_frame(plain, frame_type::file_end, encode_file_end({.complete = true, .whole_hash = std::nullopt}));
        return m_pLink->send(plain);
    }

    // A large resumable file: waits for the receiver's offer, starts from 0 and sends `sent` of its `size` bytes.
    bool large_file_start(const std::string& name, std::uint64_t size, std::uint64_t sent) {
        if (!m_pLink->send_frame(frame_type::file,
                                 encode_file({.path = name, .size = size, .mtime_ns = 1, .resumable = true}))) {
            return false;
        }
        frame_type type{};
        std::span<const std::uint8_t> payload;
        if (m_pLink->receive(type, payload, 20000) != parcel_link::arrival::frame) {
            return false;
        }
        if (type != frame_type::offer) {
            return true; // refused at once: nothing to send
        }
        if (!m_pLink->send_frame(frame_type::resume, encode_resume(0))) {
            return false;
        }
        const std::vector<std::uint8_t> piece(64 * 1024, 'k');
        for (std::uint64_t done = 0; done < sent; done += piece.size()) {
            if (!m_pLink->send_frame(frame_type::data, piece)) {
                return false;
            }
        }
        return true;
    }

private:
    net_socket m_oSocket;
    negotiating_authentycryptor m_oCipher;
    std::unique_ptr<parcel_link> m_pLink;
    bool m_bReady = false;
};

struct tally {
    std::atomic<unsigned> connections{0};
    std::atomic<unsigned> stored{0};
    std::atomic<unsigned> refused{0};
};

void count(tally& counts, bool stored) {
    ++(stored ? counts.stored : counts.refused);
}

// Each connection breaks inside a large file, so the receiver may keep what arrived; one more ends its file as
// abandoned, which deserves nothing kept.
void broken_large_files(identity& self, std::uint16_t port, int round, tally& counts) {
    constexpr std::uint64_t size = 10u << 20;
    for (int i = 0; i < 12; ++i) {
        stream connection(self, port);
        ++counts.connections;
        if (connection.ready()) {
            (void)connection.large_file_start("big-" + std::to_string(round) + "-" + std::to_string(i), size, 1u << 20);
        }
    }
    stream connection(self, port);
    ++counts.connections;
    if (connection.ready() && connection.large_file_start("abandoned-" + std::to_string(round), size, 1u << 20) &&
        connection.link().send_frame(frame_type::file_end,
                                     encode_file_end({.complete = false, .whole_hash = std::nullopt}))) {
        count(counts, connection.stored());
    }
}

void parallel_parcels(identity& self, std::uint16_t port, int round, tally& counts) {
    std::vector<std::thread> senders;
    for (int i = 0; i < 24; ++i) {
        senders.emplace_back([&, i] {
            stream connection(self, port);
            ++counts.connections;
            if (connection.ready() &&
                connection.tiny_file("parallel-" + std::to_string(round) + "-" + std::to_string(i))) {
                count(counts, connection.stored());
                (void)connection.link().send_frame(frame_type::end, {});
            }
        });
    }
    for (std::thread& sender : senders) {
        sender.join();
    }
}

void directory_flood(identity& self, std::uint16_t port, int round, tally& counts) {
    stream connection(self, port);
    ++counts.connections;
    if (!connection.ready()) {
        return;
    }
    constexpr std::uint32_t directories = 60000;
    std::vector<std::uint8_t> plain;
    append_frame(
        plain, frame_type::folder,
        encode_folder({.name = "flood-" + std::to_string(round), .files = 1, .directories = directories, .bytes = 1}));
    for (std::uint32_t i = 0; i < directories; ++i) {
        append_frame(plain, frame_type::directory, encode_directory("d" + std::to_string(i)));
        if (plain.size() > (256u << 10)) {
            if (!connection.link().send(plain)) {
                return;
            }
            plain.clear();
        }
    }
    if (!connection.link().send(plain)) {
        return;
    }
    count(counts, connection.stored());
    // One-byte parcels after the flood: each must cost the receiver no walk of the box.
    for (int i = 0; i < 20; ++i) {
        if (!connection.tiny_file("after-flood-" + std::to_string(round) + "-" + std::to_string(i))) {
            return;
        }
        count(counts, connection.stored());
    }
    (void)connection.link().send_frame(frame_type::end, {});
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "Usage: QUORVEL_HOME=HOME hostile_friend FRIEND PORT SECONDS\n");
        return 2;
    }
    const std::string receiver = argv[1];
    const auto port = static_cast<std::uint16_t>(std::strtoul(argv[2], nullptr, 10));
    const auto until = clock_type::now() + std::chrono::seconds(std::strtoul(argv[3], nullptr, 10));
    identity self;
    self.settings.load_settings();
    if (const app::status opened = app::open_identity(self.settings, self.provider); !opened) {
        std::fprintf(stderr, "hostile_friend: %s\n", opened.text().c_str());
        return 1;
    }
    if (!read_profile(self.settings, receiver, self.receiver)) {
        std::fprintf(stderr, "hostile_friend: no friend named %s\n", receiver.c_str());
        return 1;
    }
    tally counts;
    int round = 0;
    while (clock_type::now() < until) {
        ++round;
        broken_large_files(self, port, round, counts);
        parallel_parcels(self, port, round, counts);
        directory_flood(self, port, round, counts);
        std::printf("round %d: %u connections, %u parcels stored, %u refused\n", round, counts.connections.load(),
                    counts.stored.load(), counts.refused.load());
        std::fflush(stdout);
    }
    return 0;
}
