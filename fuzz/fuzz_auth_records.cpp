// The capability record and the three authentication records as they are decoded off the wire: every field is
// taken from its own bytes, so a record decodes and encodes back to exactly the bytes received.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "crypto/auth_records.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tiv::auth;
    cap_bytes cap{};
    std::copy_n(data, std::min(size, cap.size()), cap.begin());
    const cap_record decoded_cap = cap_record::decode(cap);
    FUZZ_CHECK(decoded_cap.encode() == cap);

    pass_bytes pass{};
    std::copy_n(data, std::min(size, pass.size()), pass.begin());
    const pass_record decoded_pass = pass_record::decode(pass);
    FUZZ_CHECK(decoded_pass.encode() == pass);
    FUZZ_CHECK(pass_record::decode(decoded_pass.encode()).a == decoded_pass.a);
    return 0;
}
