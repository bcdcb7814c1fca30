// The sending side of the key exchange against a receiver that sends the input: its capability answer and ARPass2
// in a row (152 + 5136 bytes; a shorter input ends the stream early). The destination is the stored friend, whose
// private key the fuzzer does not have, so the exchange must never succeed.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "crypto/auth_records.h"
#include "crypto/rsa_authentycryptor.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tiv;
    constexpr std::size_t whole_answer = auth::cap_record_size + auth::pass_record_size;
    fuzz::fuzz_identity& identity = fuzz::fuzz_identity::instance();
    fuzz::scripted_peer peer({data, std::min(size, whole_answer)});

    rsa_authentycryptor sender(identity.provider(), identity.settings());
    FUZZ_CHECK(!sender.AuthenticateAsSender(peer.near_end(), identity.friend_record()));
    // Whatever the answer offered, the type agreed on is one the sender itself allows.
    const std::uint32_t chosen = sender.chosen_type();
    FUZZ_CHECK(chosen == 0 || ((chosen & (chosen - 1)) == 0 && (chosen & identity.provider().allowed_key_types) != 0));
    FUZZ_CHECK(sender.block_allowance() >= 1);
    return 0;
}
