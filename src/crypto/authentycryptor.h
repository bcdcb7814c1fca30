#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tiv {

class record_link;
struct friend_profile;

// What a transfer thread needs of the connection's security: authenticate once, then encrypt or decrypt
// the transfer as messages (pieces with final = false, completed by one call with final = true). There is
// deliberately no "do nothing" implementation: a connection is never run unauthenticated.
class authentycryptor {
public:
    authentycryptor() = default;
    authentycryptor(const authentycryptor&) = delete;
    authentycryptor& operator=(const authentycryptor&) = delete;
    virtual ~authentycryptor() = default;

    // A fresh instance of the same kind: no session key, allowance 1.
    [[nodiscard]] virtual std::unique_ptr<authentycryptor> clone() const = 0;
    [[nodiscard]] virtual bool AuthenticateAsSender(record_link& connection, const friend_profile& destination) = 0;
    // Fills `sender` with the stored profile of the peer that proved its identity (or tried to).
    [[nodiscard]] virtual bool AuthenticateAsReceiver(record_link& connection, friend_profile& sender) = 0;
    [[nodiscard]] virtual int block_allowance() const = 0;
    // Appends what the call yields to `out`; false on failure (no key, bad padding at completion).
    [[nodiscard]] virtual bool encrypt(std::span<const std::uint8_t> data, bool final,
                                       std::vector<std::uint8_t>& out) = 0;
    [[nodiscard]] virtual bool decrypt(std::span<const std::uint8_t> data, bool final,
                                       std::vector<std::uint8_t>& out) = 0;
    // The length of a complete encrypted message of `plain_bytes` bytes; 0 without a session key.
    [[nodiscard]] virtual std::size_t encrypted_length(std::size_t plain_bytes) const = 0;
};

} // namespace tiv
