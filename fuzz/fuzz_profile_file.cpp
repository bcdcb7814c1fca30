// A friend's profile file, read as an import reads it: the text parsed, the profile made from its fields, checked
// as the import checks it, stored, and read back from the registry unchanged.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "platform/uuid.h"
#include "settings/profile_file.h"

namespace {

template <std::size_t N> bool ends_in_field(const char (&field)[N]) {
    return ::strnlen(field, N) < N;
}

bool usable(const tiv::friend_profile& profile) {
    tiv::cryptoapi::rsa_key key;
    return profile.name[0] != '\0' && tiv::uuid_from_text(profile.uuid) &&
           tiv::cryptoapi::import_public_key_blob(
               {profile.key.data, static_cast<std::size_t>(profile.key_bytes > 0 ? profile.key_bytes : 0)}, key);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tiv;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const profile_file_fields fields = parse_profile_text(text);
    const friend_profile profile = profile_from_file(fields, 0xE40);

    FUZZ_CHECK(ends_in_field(profile.name) && ends_in_field(profile.uuid) && ends_in_field(profile.address) &&
               ends_in_field(profile.receipt_directory));
    FUZZ_CHECK(profile.key_bytes >= 0 && profile.key_bytes <= profile.key.size);
    if (fields.key_text) {
        FUZZ_CHECK(static_cast<std::size_t>(profile.key_bytes) <= (fields.key_text->size() + 1) / 2);
    }
    for (const char* c = profile.name; *c != '\0'; ++c) {
        // The name becomes a registry key name: no separator may reach it.
        FUZZ_CHECK(*c != '\\' && *c != '/');
    }
    if (!usable(profile)) {
        return 0;
    }

    fuzz::fuzz_identity& identity = fuzz::fuzz_identity::instance();
    FUZZ_CHECK(save_profile(identity.settings(), profile));
    friend_profile stored;
    FUZZ_CHECK(read_profile(identity.settings(), profile.name, stored));
    FUZZ_CHECK(std::strcmp(stored.name, profile.name) == 0 && std::strcmp(stored.uuid, profile.uuid) == 0);
    FUZZ_CHECK(std::strcmp(stored.address, profile.address) == 0 && stored.port == profile.port);
    FUZZ_CHECK(stored.key_bytes == profile.key_bytes && stored.key_bits == profile.key_bits);
    FUZZ_CHECK(std::memcmp(stored.key.data, profile.key.data, static_cast<std::size_t>(profile.key_bytes)) == 0);
    if (std::strcmp(profile.name, fuzz::friend_name) != 0) {
        FUZZ_CHECK(delete_profile(identity.settings(), profile.name));
    }
    return 0;
}
