// The receiving side of the key exchange against a peer that sends the input: the capability record, ARPass1 and
// ARPass3 in a row (152 + 5136 + 5136 bytes; a shorter input ends the stream early). The peer never holds the
// private keys the records need, so the exchange must never succeed, and whatever it sends, the receiver ends
// with a profile whose texts end inside their fields.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/auth_records.h"
#include "crypto/rsa_authentycryptor.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tiv;
    constexpr std::size_t whole_exchange = auth::cap_record_size + 2 * auth::pass_record_size;
    fuzz::fuzz_identity& identity = fuzz::fuzz_identity::instance();
    fuzz::scripted_peer peer({data, std::min(size, whole_exchange)});

    rsa_authentycryptor receiver(identity.provider(), identity.settings());
    friend_profile sender;
    FUZZ_CHECK(!receiver.AuthenticateAsReceiver(peer.near_end(), sender));
    FUZZ_CHECK(::strnlen(sender.name, sizeof sender.name) < sizeof sender.name);
    FUZZ_CHECK(sender.key_bytes >= 0 && sender.key_bytes <= sender.key.size);
    FUZZ_CHECK(receiver.block_allowance() >= 1);
    // A failed exchange may still have agreed on a type; only a key that exists may seal anything.
    std::vector<std::uint8_t> sealed;
    const std::uint8_t probe[3] = {1, 2, 3};
    if (receiver.encrypt(probe, true, sealed)) {
        FUZZ_CHECK(sealed.size() == receiver.encrypted_length(sizeof probe));
    }
    return 0;
}
