#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/byte_buffer.h"
#include "crypto/whereabouts.h"

namespace tiv {

class record_link;
struct friend_profile;

// Why an authentication failed, where a user can do something about it; every other failure is told apart only
// in the activity log.
enum class auth_failure {
    none,               // the last authentication succeeded, or none has run
    unexplained,        // the log lines say why
    no_common_key_type, // the two sides allow no session key type in common; to the sender, a receiver that
                        // does not know it looks the same, as it allows such a sender no type at all
    peer_keys_changed,  // the receiver proved a signature key other than the one pinned for it: it re-keyed,
                        // or someone else answers in its place
    exchange_refused,   // the old exchange: the receiver agreed on a key type, then could not hand back the
                        // session key it was sent, as when that key was wrapped for an exchange key it no longer
                        // holds
    peer_unpinned,      // the receiver answered a pinned sender with the old exchange: it holds no profile of the
                        // sender with its signature key (none at all, or one from an older program)
};

// The reason in words a user understands, empty for none and unexplained.
[[nodiscard]] inline const char* auth_failure_reason(auth_failure reason) {
    switch (reason) {
    case auth_failure::no_common_key_type:
        return "no session key type that both sides allow, or the receiver does not know this sender";
    case auth_failure::peer_keys_changed:
        return "the receiver's keys do not match the profile you hold: import its new profile";
    case auth_failure::exchange_refused:
        return "the receiver refused the exchange: if its keys changed, import its new profile";
    case auth_failure::peer_unpinned:
        return "the receiver holds no profile of yours with your signature key: give it your profile";
    default:
        return "";
    }
}

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
    [[nodiscard]] virtual bool decrypt(std::span<const std::uint8_t> data, bool final, byte_buffer& out) = 0;
    // The length of a complete encrypted message of `plain_bytes` bytes; 0 without a session key.
    [[nodiscard]] virtual std::size_t encrypted_length(std::size_t plain_bytes) const = 0;
    // Whether both ends announced that the receiver answers the file with a receipt, sent under the session key
    // before the receiver ends its stream. The old exchange has no room to announce it.
    [[nodiscard]] virtual bool carries_receipts() const { return false; }
    // Whether both ends announced the parcel stream: many files and folders over this connection, framed, with
    // a receipt for each (see net/parcel_frames.h).
    [[nodiscard]] virtual bool carries_parcel_stream() const { return false; }
    // Whether both ends announced that the sender may send further files of the stream before the receipts of
    // earlier ones have come back.
    [[nodiscard]] virtual bool carries_pipelining() const { return false; }
    // Whether both ends announced that a sender tells where it can be reached now.
    [[nodiscard]] virtual bool carries_whereabouts() const { return false; }
    // Whether both ends announced that a connection may carry, instead of parcels, a login check or a message.
    [[nodiscard]] virtual bool carries_conversation() const { return false; }
    // Where this side, as a sender, says it can be reached: what its exported profile would say. None when it
    // cannot honestly say (no name and a wildcard address, no valid port), or the exchange does not carry it.
    [[nodiscard]] virtual std::optional<whereabouts> own_whereabouts() const { return std::nullopt; }
    // A receiver heard where `sender` can be reached now: the stored profile follows where the user allows it.
    // One that keeps no profiles has nothing to follow.
    virtual void follow_sender(const friend_profile& sender, const whereabouts& claim) const {
        (void)sender;
        (void)claim;
    }
    // A sender sends its first data right behind its side of the exchange: true until the receiver's confirmation
    // that it took the exchange has come. A connection that ends before it was refused by the receiver.
    [[nodiscard]] virtual bool awaiting_peer_confirmation() const { return false; }
    // Brings `sender`, the friend this connection authenticated, up to date with its stored profile, so a change
    // reaches a connection that carries many files. False, with `sender` as it was, when the friend is gone: deleted,
    // or pinned to a key other than the one proved. One that keeps no profiles has nothing newer to tell.
    [[nodiscard]] virtual bool reread_sender(friend_profile& sender) const {
        (void)sender;
        return true;
    }

    // Why the last authentication failed. The authentication runs on a transfer's thread, where nobody can be
    // asked anything: the transfer reports the reason instead.
    [[nodiscard]] auth_failure last_failure() const { return m_nLastFailure; }

protected:
    void begin_authentication() { m_nLastFailure = auth_failure::none; }
    void fail_because(auth_failure reason) { m_nLastFailure = reason; }
    // The end of an authentication: a failure that gave no reason of its own is unexplained.
    [[nodiscard]] bool conclude(bool succeeded) {
        if (!succeeded && m_nLastFailure == auth_failure::none) {
            m_nLastFailure = auth_failure::unexplained;
        }
        return succeeded;
    }

private:
    auth_failure m_nLastFailure = auth_failure::none;
};

} // namespace tiv
