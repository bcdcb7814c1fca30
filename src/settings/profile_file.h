#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/regular_file.h"
#include "settings/friend_profile.h"

namespace tiv {

class qvl_settings_data;

// What a profile file (".prf") carries. A key missing from the file stays empty here.
struct profile_file_fields {
    std::optional<std::string> name;
    std::optional<std::string> uuid;
    std::optional<std::string> address;
    std::optional<std::uint32_t> port;
    std::optional<std::string> key_text;
    std::optional<std::string> signature_key_text;
};

// Export names get ".prf" appended unless they already contain it somewhere.
[[nodiscard]] std::string profile_file_name(const std::string& chosen);

// Writes the five lines (CR LF line ends), and a sixth "SKEY: " line with the signature key when one is given,
// to a temporary file beside `path` and renames it into place, so a failed export never leaves a half-written
// profile under the real name. Readers that predate the sixth line ignore it. Without `replace`, a file that is
// at `path` by the time the new one is in place stays as it is, and the call fails.
[[nodiscard]] bool write_profile_file(const std::string& path, const std::string& user_name, const std::string& uuid,
                                      const std::string& external_name, std::uint32_t port, const std::string& key_text,
                                      const std::string& signature_key_text = {}, bool replace = true);

// Parses profile text by the reader's rules: lines of any length recognised by their first five characters, values
// from the seventh character with CR and LF removed, later keys win, unknown lines ignored.
[[nodiscard]] profile_file_fields parse_profile_text(const std::string& text);

// The largest profile file read. A real one holds two key blobs in hex and is a few KiB; anything near the limit is
// not a profile, and reading it whole would let a file such as /dev/zero exhaust the memory.
inline constexpr std::size_t profile_file_limit = 64 * 1024;

// Reads and parses a regular file of at most profile_file_limit bytes; `fields` is left alone otherwise.
[[nodiscard]] file_read read_profile_file(const std::string& path, profile_file_fields& fields);

// Presets what a file does not carry (the machine's approved key types, the smallest size and count limits,
// receipt off), then applies the file's fields: the name filtered, the key decoded (key bits from the blob's
// RSA header when it is long enough to hold one, else 0), the receipt directory set to the compact name.
[[nodiscard]] friend_profile profile_from_file(const profile_file_fields& fields, std::uint32_t machine_key_types);

// Smallest choices of the profile limits, which an import presets.
inline constexpr std::uint32_t smallest_max_file_size = 10240;
inline constexpr std::uint32_t smallest_max_file_count = 10;

} // namespace tiv
