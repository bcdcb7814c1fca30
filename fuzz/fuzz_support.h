#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/unique_fd.h"
#include "crypto/crypto_provider.h"
#include "net/socket/socket_link.h"
#include "settings/friend_profile.h"
#include "settings/qvl_settings_data.h"

namespace tiv::fuzz {

// Stops the run at once, with a stack trace from the sanitizer runtime, when a property of the code under test
// does not hold: a fuzzer only reports what crashes.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            ::tiv::fuzz::check_failed(#condition, __FILE__, __LINE__);                                                 \
        }                                                                                                              \
    } while (false)

[[noreturn]] void check_failed(const char* condition, const char* file, int line);

// The UUID of the friend the identity has on file; seeds carry it so the fuzzer starts from a known sender.
inline constexpr const char* friend_uuid_text = "6F3C2A91-5D4B-4E8A-9C17-2B8E0D4F6A53";
inline constexpr const char* friend_name = "Fuzz Friend";
// A second friend, pinned to the TLS exchange by its signature key.
inline constexpr const char* pinned_uuid_text = "1C9E7A35-8B62-4D0F-A4E3-75D2C81B09F6";
inline constexpr const char* pinned_name = "Pinned Friend";

// A private QUORVEL_HOME for the whole run (on /dev/shm where it can be had, so registry writes stay cheap),
// removed at exit. Both hives, the key container and the parcel box root live there.
const std::string& fuzz_home();

// One user with settings, a fixed key-exchange pair and one stored friend (fixed key, friend_uuid_text, every
// session key type allowed), made on first use and kept for the process. Questions to the user are answered OK
// without printing anything, and the activity log is on, so the log lines' formatting is exercised too.
class fuzz_identity {
public:
    static fuzz_identity& instance();

    qvl_settings_data& settings() { return *m_pSettings; }
    crypto_provider& provider() { return *m_pProvider; }
    // The friend as stored, with its public key; the destination of a sender.
    [[nodiscard]] const friend_profile& friend_record() const { return m_oFriend; }
    // The pinned friend as stored.
    [[nodiscard]] const friend_profile& pinned_record() const { return m_oPinned; }
    // The friend's full key pair, to make blobs only the friend could unwrap.
    [[nodiscard]] const cryptoapi::rsa_key& friend_key() const { return m_oFriendKey; }

private:
    fuzz_identity();

    std::unique_ptr<qvl_settings_data> m_pSettings;
    std::unique_ptr<crypto_provider> m_pProvider;
    cryptoapi::rsa_key m_oFriendKey;
    friend_profile m_oFriend;
    friend_profile m_oPinned;
};

// A connected AF_UNIX stream pair whose far end has already written `bytes` and shut down its sending side: the
// near end reads them, then end of stream, so a short input ends the exchange without waiting for a time-out.
// What the near end sends is taken into the far end's receive buffer and never read, which is room enough for
// the records of one authentication.
class scripted_peer {
public:
    explicit scripted_peer(std::span<const std::uint8_t> bytes, int receive_timeout_ms = 100);
    scripted_peer(const scripted_peer&) = delete;
    scripted_peer& operator=(const scripted_peer&) = delete;
    ~scripted_peer();

    record_link& near_end() { return m_oLink; }

private:
    net_socket m_oNear;
    socket_link m_oLink{m_oNear};
    unique_fd m_oFar;
};

// The bytes of a public key blob of `key`, for stored profiles and seeds.
[[nodiscard]] std::vector<std::uint8_t> public_blob_of(const cryptoapi::rsa_key& key);

// Reads a fixed PEM pair; aborts when it does not load (the fuzz build itself is broken then).
[[nodiscard]] cryptoapi::rsa_key load_pem(const char* pem);

} // namespace tiv::fuzz
