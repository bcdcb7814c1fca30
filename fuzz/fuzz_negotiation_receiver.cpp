// The program's authenticator on the receiving side against a peer that sends the input: the capability record,
// then either the old exchange's records or, for the pinned friend with the TLS marker, TLS records of the
// handshake. The peer holds none of the private keys, so the exchange must never succeed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/negotiating_authentycryptor.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tiv;
    // Room for the old exchange's three records and a TLS handshake's first flight.
    constexpr std::size_t longest_input = 16384;
    fuzz::fuzz_identity& identity = fuzz::fuzz_identity::instance();
    fuzz::scripted_peer peer({data, std::min(size, longest_input)});

    negotiating_authentycryptor receiver(identity.provider(), identity.settings());
    friend_profile sender;
    FUZZ_CHECK(!receiver.AuthenticateAsReceiver(peer.near_end(), sender));
    FUZZ_CHECK(::strnlen(sender.name, sizeof sender.name) < sizeof sender.name);
    FUZZ_CHECK(receiver.block_allowance() >= 1);
    return 0;
}
