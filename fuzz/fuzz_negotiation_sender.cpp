// The program's authenticator on the sending side against a receiver that sends the input after its first byte:
// the capability answer, then either ARPass2 or TLS records of the handshake. The first byte chooses the
// destination: the friend known by the old exchange (even) or the friend pinned to TLS (odd). The peer holds none
// of the private keys, so the exchange must never succeed.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "crypto/negotiating_authentycryptor.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tiv;
    constexpr std::size_t longest_input = 16384;
    if (size < 1) {
        return 0;
    }
    fuzz::fuzz_identity& identity = fuzz::fuzz_identity::instance();
    const friend_profile& destination = data[0] % 2 == 0 ? identity.friend_record() : identity.pinned_record();
    fuzz::scripted_peer peer({data + 1, std::min(size - 1, longest_input)});

    negotiating_authentycryptor sender(identity.provider(), identity.settings());
    FUZZ_CHECK(!sender.AuthenticateAsSender(peer.near_end(), destination));
    FUZZ_CHECK(sender.block_allowance() >= 1);
    return 0;
}
