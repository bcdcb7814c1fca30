#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/unique_fd.h"
#include "platform/crypto_backend/crypto_backend_outcome.h"
#include "platform/crypto_backend/crypto_backend_rsa.h"

namespace tiv::cryptoapi {

// The two key pairs a container holds (AT_KEYEXCHANGE and AT_SIGNATURE).
enum class key_pair_kind { exchange, signature };

// What one look at a key file tells of it without reading it. A replacement is a fresh file renamed over the old
// one, so it never has the inode of the file it replaced, however coarse the file system's times.
struct key_file_stamp {
    bool present = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t modified_ns = 0;
    std::int64_t size = 0;
    bool operator==(const key_file_stamp&) const = default;
};

// The directory name a container name is kept under: letters, digits, '-', '_' and '.' (not first) stand
// for themselves, every other byte becomes %XX (upper-case hex), so "Velmora\Quorvel" is "Velmora%5CQuorvel"
// and no two names share a directory. Empty for an empty name or one whose directory name would pass 255 bytes.
[[nodiscard]] std::string container_directory_name(std::string_view container_name);

// A per-user key container: one directory (0700) under the key container root, named after the container,
// holding each key pair as an unencrypted PKCS#8 PEM file (0600): "exchange.pem" and "signature.pem".
// A default object is "none". Holds the open directory, so later operations reach the same directory even
// if the path is changed under it. get_key may run on several threads at once; a replacement is atomic,
// so a reader sees the old pair or the new one.
class key_container {
public:
    key_container() = default;

    // The container must exist (bad_keyset otherwise, as CryptAcquireContext reports it).
    static outcome open(std::string_view container_name, key_container& out);
    // Makes the container, which must not exist yet (exists otherwise), and the root as needed.
    static outcome create(std::string_view container_name, key_container& out);
    // The same under an explicit root instead of paths::key_container_root(), so one process can hold
    // several independent identities.
    static outcome open_in(const std::string& root, std::string_view container_name, key_container& out);
    static outcome create_in(const std::string& root, std::string_view container_name, key_container& out);

    explicit operator bool() const { return static_cast<bool>(m_oDirectory); }
    [[nodiscard]] const std::string& name() const { return m_strName; }
    [[nodiscard]] const std::string& directory() const { return m_strDirectory; }
    [[nodiscard]] std::string key_file_path(key_pair_kind kind) const;

    // True when the pair's file is there (usable or not: get_key tells).
    [[nodiscard]] bool has_key(key_pair_kind kind) const;
    // The pair's file as it stands now: one stat, cheap enough for every connection. Not present when the file
    // (or the container) is not there.
    [[nodiscard]] key_file_stamp stamp(key_pair_kind kind) const;
    // CryptGetUserKey. no_key only when the file is absent; a file that is not private (permission) or
    // not a key (bad_data, bad_key) is a different failure, and must not be taken as room for a new pair.
    outcome get_key(key_pair_kind kind, rsa_key& out) const;
    // CryptGenKey for a user pair: a new pair of `bits` (is_user_key_bits), stored in place of any old one.
    outcome generate_key(key_pair_kind kind, unsigned bits, rsa_key& out);
    // Stores `key` (a full pair) in place of the pair of that kind.
    outcome replace_key(key_pair_kind kind, const rsa_key& key);

private:
    static outcome open_directory(const std::string& root, std::string_view container_name, bool create,
                                  key_container& out);

    std::string m_strName;
    std::string m_strDirectory;
    unique_fd m_oDirectory;
};

} // namespace tiv::cryptoapi
