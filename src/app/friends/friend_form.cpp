#include "app/friends/friend_form.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "app/internal/friend_records.h"
#include "core/hex_text.h"
#include "core/outside_text.h"
#include "core/text.h"
#include "crypto/session_key_types.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"

namespace tiv::app {

namespace {
constexpr std::size_t key_bytes_per_line = 16;
constexpr std::uintmax_t key_file_limit = 64 * 1024;
} // namespace

std::string friend_profile_name(std::string typed) {
    filter_profile_name(typed);
    if (typed.size() > friend_limits.name) {
        typed.resize(friend_limits.name);
    }
    return typed;
}

void set_friend_name(friend_record& record, const std::string& name) {
    record.name = fitted_field(name, friend_limits.name);
    record.parcel_box = fitted_field(compact_name(record.name), friend_limits.parcel_box);
}

std::string friend_address_text(const friend_record& record) {
    return escaped_text(record.address);
}

void set_friend_uuid(friend_record& record, const std::string& uuid) {
    record.uuid = fitted_field(uuid, friend_limits.uuid);
}

std::string friend_key_text(const friend_record& record) {
    std::string text;
    // Key data shorter than their stored count are shown as far as they go.
    if (!record.key.empty() && record.key_bytes > 0) {
        const auto shown = std::min(static_cast<std::size_t>(record.key_bytes), record.key.size());
        (void)hex_encode(record.key, shown, key_bytes_per_line, text);
    }
    return text;
}

void set_friend_key_text(friend_record& record, const std::string& text) {
    std::vector<std::uint8_t> bytes;
    (void)hex_decode(text, text.size(), bytes);
    record.key_bytes = static_cast<std::int32_t>(bytes.size());
    record.key_bits = 0;
    if (const std::optional<std::uint32_t> bits = cryptoapi::claimed_key_bits(bytes)) {
        record.key_bits = static_cast<std::int32_t>(*bits);
    }
    record.key = std::move(bytes);
}

file_chooser public_key_chooser() {
    return {"Select File", {{"All Files", "*.*"}, {"Text Files", "*.txt;*.pk"}}, {}};
}

result<std::string> read_key_text_file(const std::string& path) {
    std::error_code failed;
    if (!std::filesystem::is_regular_file(path, failed)) {
        return status(status_code::not_found, "could not read the key file " + path + ".");
    }
    if (std::filesystem::file_size(path, failed) > key_file_limit || failed) {
        return status(status_code::invalid, path + " is larger than 64 KiB, too large for a key file.");
    }
    std::ifstream file(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
        return status(status_code::io_failure, "could not read the key file " + path + ".");
    }
    return text;
}

std::vector<std::string> friend_key_type_names(std::uint32_t mask) {
    return key_type_names(mask);
}

} // namespace tiv::app
