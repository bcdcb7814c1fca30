#include "transfer_fixture.h"
#include "net/socket/socket_link.h"

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

#include "net/single_file/file_record.h"

namespace tiv::test {

test_identity* transfer_test::s_pAlice = nullptr;
test_identity* transfer_test::s_pBob = nullptr;

std::vector<std::uint8_t> pattern_bytes(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    std::mt19937 generator(seed);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

void transfer_test::SetUpTestSuite() {
    s_pAlice = new test_identity("Alice");
    s_pBob = new test_identity("Bob");
    for (test_identity* person : {s_pAlice, s_pBob}) {
        person->provider().allowed_key_types = all_session_key_types & crypto_provider::available_key_types();
    }
    s_pAlice->befriend(*s_pBob, all_session_key_types);
}

void transfer_test::TearDownTestSuite() {
    delete s_pAlice;
    delete s_pBob;
}

void transfer_test::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-transfer-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_strRoot = pattern + "/PBoxes";
    m_strSource = pattern + "/source";
    std::filesystem::create_directories(m_strSource);
    m_oBobProfile = s_pBob->as_friend(all_session_key_types);
    bob_accepts_alice();
}

void transfer_test::TearDown() {
    m_pSender.reset();
    m_pListener.reset();
    remove_tree(std::filesystem::path(m_strRoot).parent_path().string());
}

void transfer_test::bob_accepts_alice(std::uint32_t types, std::int32_t receipt, std::uint32_t max_size,
                                      std::uint32_t max_count) {
    friend_profile alice = s_pAlice->as_friend(types);
    alice.receipt_enabled = receipt;
    alice.max_file_size = max_size;
    alice.max_file_count = max_count;
    ASSERT_TRUE(save_profile(s_pBob->settings(), alice));
}

incoming_connection_handler& transfer_test::listen(int io_block_size, std::size_t max_receiving,
                                                   std::shared_ptr<file_writer> files) {
    net_address local;
    EXPECT_TRUE(resolve_address("127.0.0.1", 0, local));
    m_pListener = std::make_unique<incoming_connection_handler>(
        m_strRoot, local, io_block_size, std::make_shared<rsa_authentycryptor>(s_pBob->provider(), s_pBob->settings()),
        max_receiving, thread_bundle::transfer_listener{}, std::move(files));
    EXPECT_TRUE(m_pListener->listening()) << m_pListener->setup_status().text();
    return *m_pListener;
}

outgoing_connection_handler& transfer_test::sender() {
    if (m_pSender == nullptr) {
        m_pSender = std::make_unique<outgoing_connection_handler>(
            std::make_shared<rsa_authentycryptor>(s_pAlice->provider(), s_pAlice->settings()));
        m_pSender->profile = &m_oBobProfile;
    }
    return *m_pSender;
}

std::shared_ptr<socket_thread> transfer_test::send_file(const std::string& path, int io_block_size) {
    const std::filesystem::path file(path);
    return sender().start_outgoing(file.parent_path().string(), file.filename().string(),
                                   {m_pListener->listening_address()}, io_block_size);
}

std::string transfer_test::alice_box() const {
    return m_strRoot + "/Alice";
}

std::string transfer_test::make_file(const std::string& name, std::size_t size, unsigned seed) {
    const std::string path = m_strSource + "/" + name;
    const std::vector<std::uint8_t> bytes = pattern_bytes(size, seed);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string transfer_test::read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> transfer_test::names_in(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

transfer_view transfer_test::received(std::size_t i) const {
    const std::vector<transfer_view> all = m_pListener->snapshots();
    if (i >= all.size()) {
        ADD_FAILURE() << "no received transfer " << i << " of " << all.size();
        return {};
    }
    return all[i];
}

bool transfer_test::wait_received(std::size_t n, std::chrono::milliseconds timeout) {
    return wait_for([&] { return m_pListener->size() >= n && m_pListener->running_count() == 0; }, timeout);
}

bool transfer_test::wait_sent(std::chrono::milliseconds timeout) {
    return wait_for([&] { return sender().running_count() == 0; }, timeout);
}

manual_peer::manual_peer(test_identity& alice, const friend_profile& bob, const net_address& where)
    : m_pCipher(std::make_unique<rsa_authentycryptor>(alice.provider(), alice.settings())) {
    if (!open_tcp_socket(socket) || !set_receive_timeout(socket, 10000) || !set_send_timeout(socket, 10000) ||
        !connect_socket(socket, where)) {
        return;
    }
    socket_link link(socket);
    m_bAuthenticated = m_pCipher->AuthenticateAsSender(link, bob);
}

manual_peer::~manual_peer() {
    if (socket.handle >= 0) {
        const linger abort_at_once{1, 0};
        ::setsockopt(socket.handle, SOL_SOCKET, SO_LINGER, &abort_at_once, sizeof abort_at_once);
        ::close(socket.handle);
        socket.handle = -1;
    }
}

bool manual_peer::send_raw(const std::vector<std::uint8_t>& bytes) {
    return bytes.empty() || send_all(socket, bytes.data(), static_cast<int>(bytes.size())).ok();
}

std::vector<std::uint8_t> manual_peer::encrypt(const std::vector<std::uint8_t>& plain, bool final) {
    std::vector<std::uint8_t> sealed;
    EXPECT_TRUE(m_pCipher->encrypt(plain, final, sealed));
    return sealed;
}

bool manual_peer::send_record(const std::string& name, std::uint32_t size) {
    file_record record;
    std::memset(record.file_name, 0, sizeof record.file_name);
    std::memcpy(record.file_name, name.data(), std::min(name.size(), sizeof record.file_name - 1));
    record.file_size = size;
    const auto bytes = record.encode();
    return send_raw(encrypt(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), true));
}

bool manual_peer::send_data(const std::vector<std::uint8_t>& plain, bool final) {
    return send_raw(encrypt(plain, final));
}

void manual_peer::half_close() {
    ::shutdown(socket.handle, SHUT_WR);
}

bool manual_peer::peer_closed_within(std::chrono::milliseconds limit) {
    pollfd waiting{socket.handle, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(limit.count())) <= 0) {
        return false;
    }
    char scratch[64];
    const ssize_t got = ::recv(socket.handle, scratch, sizeof scratch, MSG_DONTWAIT);
    return got <= 0;
}

} // namespace tiv::test
