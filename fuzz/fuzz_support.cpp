#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdlib.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

#include "app/internal/settings/first_run.h"
#include "core/text.h"
#include "fuzz_keys.h"
#include "log/activity_log.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "platform/key_container.h"
#include "settings/identity.h"

namespace tiv::fuzz {

namespace {
// Every session key type, legacy ciphers included where this OpenSSL offers them.
constexpr std::uint32_t every_key_type = 0xFFF;

[[noreturn]] void give_up(const std::string& why) {
    std::fprintf(stderr, "fuzz set-up failed: %s\n", why.c_str());
    std::abort();
}

std::string make_home() {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "";
    if (base.empty()) {
        base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    }
    std::string pattern = base + "/quorvel-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        give_up("cannot create a home below " + base);
    }
    ::setenv("QUORVEL_HOME", pattern.c_str(), 1);
    ::unsetenv("QUORVEL_MACHINE_DB");
    return pattern;
}

void remove_home() {
    std::error_code ignored;
    std::filesystem::remove_all(fuzz_home(), ignored);
}
} // namespace

void check_failed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
    std::abort();
}

const std::string& fuzz_home() {
    // Never destroyed: the exit handler that removes the directory runs after static objects are gone.
    static const std::string* const home = [] {
        const std::string* made = new std::string(make_home());
        std::atexit(remove_home);
        return made;
    }();
    return *home;
}

cryptoapi::rsa_key load_pem(const char* pem) {
    cryptoapi::rsa_key key;
    if (const cryptoapi::outcome loaded = cryptoapi::rsa_key::from_private_pem(pem, key); !loaded) {
        give_up("a fixed key does not load: " + loaded.text());
    }
    return key;
}

std::vector<std::uint8_t> public_blob_of(const cryptoapi::rsa_key& key) {
    std::vector<std::uint8_t> blob;
    if (const cryptoapi::outcome made = cryptoapi::export_public_key_blob(key, cryptoapi::calg_rsa_keyx, blob); !made) {
        give_up("a public key blob cannot be made: " + made.text());
    }
    return blob;
}

fuzz_identity& fuzz_identity::instance() {
    // Never destroyed: transfer code may still hold the settings while the process exits.
    static fuzz_identity* const identity = new fuzz_identity();
    return *identity;
}

fuzz_identity::fuzz_identity() {
    const std::string& home = fuzz_home();
    set_activity_logging(true);

    m_pSettings = std::make_unique<qvl_settings_data>();
    set_machine_defaults(*m_pSettings);
    set_user_defaults(*m_pSettings);
    m_pSettings->load_settings();

    // The container is made here with the fixed exchange pair in it, so runs stay reproducible.
    const std::string key_root = home + "/keys";
    cryptoapi::key_container container;
    if (const cryptoapi::outcome made =
            cryptoapi::key_container::create_in(key_root, crypto_provider::default_container_name, container);
        !made) {
        give_up("cannot create the key container: " + made.text());
    }
    if (const cryptoapi::outcome stored =
            container.replace_key(cryptoapi::key_pair_kind::exchange, load_pem(own_exchange_pem));
        !stored) {
        give_up("cannot store the fixed key pair: " + stored.text());
    }
    m_pProvider = std::make_unique<crypto_provider>(key_root, 1024);
    m_pProvider->open(every_key_type);
    // Opening makes no keys; the signature pair the TLS exchange needs is made once here, as `init` would.
    if (!m_pProvider->make_missing_pairs() ||
        !m_pProvider->exchange_key()->same_public_key(load_pem(own_exchange_pem))) {
        give_up("the provider did not open the fixed key pair");
    }

    m_oFriendKey = load_pem(friend_exchange_pem);
    copy_text_field(m_oFriend.name, friend_name);
    copy_text_field(m_oFriend.uuid, friend_uuid_text);
    copy_text_field(m_oFriend.receipt_directory, compact_name(friend_name));
    copy_text_field(m_oFriend.address, "127.0.0.1");
    m_oFriend.receipt_enabled = 1;
    m_oFriend.max_file_size = unlimited;
    m_oFriend.max_file_count = unlimited;
    m_oFriend.encryption_methods = every_key_type;
    const std::vector<std::uint8_t> blob = public_blob_of(m_oFriendKey);
    m_oFriend.key.Assign(blob.data(), static_cast<std::int32_t>(blob.size()));
    m_oFriend.key_bytes = static_cast<std::int32_t>(blob.size());
    m_oFriend.key_bits = static_cast<std::int32_t>(m_oFriendKey.bits());
    m_oPinned = m_oFriend;
    copy_text_field(m_oPinned.name, pinned_name);
    copy_text_field(m_oPinned.uuid, pinned_uuid_text);
    copy_text_field(m_oPinned.receipt_directory, compact_name(pinned_name));
    if (!cryptoapi::export_public_key_blob(m_oFriendKey, cryptoapi::calg_rsa_sign, m_oPinned.signature_key) ||
        !save_profile(*m_pSettings, m_oFriend) || !save_profile(*m_pSettings, m_oPinned)) {
        give_up("cannot store the friend profiles");
    }
}

scripted_peer::scripted_peer(std::span<const std::uint8_t> bytes, int receive_timeout_ms) {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        give_up("socketpair failed");
    }
    m_oNear.handle = ends[0];
    m_oFar.reset(ends[1]);
    if (!set_receive_timeout(m_oNear, receive_timeout_ms)) {
        give_up("cannot set a receive time-out");
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::send(m_oFar.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (wrote <= 0) {
            give_up("the scripted peer could not write its bytes");
        }
        done += static_cast<std::size_t>(wrote);
    }
    ::shutdown(m_oFar.get(), SHUT_WR);
}

scripted_peer::~scripted_peer() {
    // Closing the far end first lets the near end's closing drain end at once.
    m_oFar.reset();
}

} // namespace tiv::fuzz
