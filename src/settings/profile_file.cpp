#include "settings/profile_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/hex_text.h"
#include "core/text.h"
#include "core/unique_fd.h"
#include "platform/crypto_backend/crypto_backend_public_blob.h"
#include "platform/paths.h"

namespace tiv {

namespace {
constexpr std::size_t key_length = 5;
constexpr std::size_t value_offset = 6;

bool write_all(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t wrote = ::write(fd, data.data() + done, data.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

std::string line_value(const std::string& line) {
    std::string value;
    if (line.size() > value_offset) {
        for (std::size_t i = value_offset; i < line.size(); ++i) {
            if (line[i] != '\r' && line[i] != '\n') {
                value += line[i];
            }
        }
    }
    return value;
}

void apply_line(const std::string& line, profile_file_fields& fields) {
    if (line.size() < key_length) {
        return;
    }
    const std::string key = line.substr(0, key_length);
    if (key == "NAME:") {
        fields.name = line_value(line);
    } else if (key == "UUID:") {
        fields.uuid = line_value(line);
    } else if (key == "ADDR:") {
        fields.address = line_value(line);
    } else if (key == "PORT:") {
        const std::string value = line_value(line);
        if (!value.empty() && value[0] >= '0' && value[0] <= '9') {
            fields.port = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        }
    } else if (key == "AKEY:") {
        fields.key_text = line_value(line);
    } else if (key == "SKEY:") {
        fields.signature_key_text = line_value(line);
    }
}
} // namespace

std::string profile_file_name(const std::string& chosen) {
    return chosen.find(".prf") == std::string::npos ? chosen + ".prf" : chosen;
}

bool write_profile_file(const std::string& path, const std::string& user_name, const std::string& uuid,
                        const std::string& external_name, std::uint32_t port, const std::string& key_text,
                        const std::string& signature_key_text, bool replace) {
    std::string content = "NAME: " + user_name + "\r\nUUID: " + uuid + "\r\nADDR: " + external_name +
                          "\r\nPORT: " + std::to_string(port) + "\r\nAKEY: " + key_text + "\r\n";
    if (!signature_key_text.empty()) {
        content += "SKEY: " + signature_key_text + "\r\n";
    }
    const std::string directory = paths::parent_directory(path);
    std::string temporary = (directory.empty() ? std::string(".") : directory) + "/.profile-XXXXXX";
    unique_fd fd(::mkstemp(temporary.data()));
    if (!fd) {
        return false;
    }
    const bool written = write_all(fd.get(), content) && ::fchmod(fd.get(), 0644) == 0 && ::fsync(fd.get()) == 0;
    const bool closed = ::close(fd.release()) == 0;
    // A hard link never replaces what is there, so a file made since the caller looked is kept.
    const bool placed =
        written && closed &&
        (replace ? ::rename(temporary.c_str(), path.c_str()) == 0 : ::link(temporary.c_str(), path.c_str()) == 0);
    if (!placed || !replace) {
        ::unlink(temporary.c_str());
    }
    return placed;
}

profile_file_fields parse_profile_text(const std::string& text) {
    profile_file_fields fields;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        // No line is cut: a 16384-bit key's line is longer than any fixed buffer would be, and the whole text is
        // already bounded by profile_file_limit.
        end = end == std::string::npos ? text.size() : end + 1;
        apply_line(text.substr(position, end - position), fields);
        position = end;
    }
    return fields;
}

file_read read_profile_file(const std::string& path, profile_file_fields& fields) {
    std::string text;
    const file_read read = read_regular_file(path, profile_file_limit, text);
    if (read == file_read::ok) {
        fields = parse_profile_text(text);
    }
    return read;
}

friend_profile profile_from_file(const profile_file_fields& fields, std::uint32_t machine_key_types) {
    friend_profile profile;
    profile.encryption_methods = machine_key_types;
    profile.max_file_size = smallest_max_file_size;
    profile.max_file_count = smallest_max_file_count;
    profile.receipt_enabled = 0;
    if (fields.name) {
        std::string name = *fields.name;
        filter_profile_name(name);
        copy_text_field(profile.name, name);
        copy_text_field(profile.receipt_directory, compact_name(profile.name));
    }
    if (fields.uuid) {
        copy_text_field(profile.uuid, *fields.uuid);
    }
    if (fields.address) {
        copy_text_field(profile.address, *fields.address);
    }
    if (fields.port) {
        profile.port = static_cast<std::int32_t>(*fields.port);
    }
    if (fields.key_text) {
        std::vector<std::uint8_t> blob;
        hex_decode(*fields.key_text, fields.key_text->size(), blob);
        profile.key_bytes = static_cast<std::int32_t>(blob.size());
        if (const std::optional<std::uint32_t> bits = cryptoapi::claimed_key_bits(blob)) {
            profile.key_bits = static_cast<std::int32_t>(*bits);
        }
        profile.key.Assign(blob.data(), static_cast<std::int32_t>(blob.size()));
    }
    if (fields.signature_key_text) {
        hex_decode(*fields.signature_key_text, fields.signature_key_text->size(), profile.signature_key);
    }
    return profile;
}

} // namespace tiv
