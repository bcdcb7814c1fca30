#include "platform/key_container.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/key_container_files.h"
#include "platform/paths.h"

namespace tiv::cryptoapi {

namespace {
constexpr std::size_t max_directory_name = 255;

const char* key_file_name(key_pair_kind kind) {
    return kind == key_pair_kind::exchange ? "exchange.pem" : "signature.pem";
}

bool stands_for_itself(char c, bool first) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           (c == '.' && !first);
}
} // namespace

std::string container_directory_name(std::string_view container_name) {
    std::string encoded;
    for (std::size_t i = 0; i < container_name.size(); ++i) {
        const char c = container_name[i];
        if (stands_for_itself(c, i == 0)) {
            encoded += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", unsigned(static_cast<unsigned char>(c)));
            encoded += hex;
        }
    }
    return encoded.size() <= max_directory_name ? encoded : std::string();
}

outcome key_container::open(std::string_view container_name, key_container& out) {
    return open_in(paths::key_container_root(), container_name, out);
}

outcome key_container::create(std::string_view container_name, key_container& out) {
    return create_in(paths::key_container_root(), container_name, out);
}

outcome key_container::open_in(const std::string& root, std::string_view container_name, key_container& out) {
    return open_directory(root, container_name, false, out);
}

outcome key_container::create_in(const std::string& root, std::string_view container_name, key_container& out) {
    return open_directory(root, container_name, true, out);
}

outcome key_container::open_directory(const std::string& root, std::string_view container_name, bool create,
                                      key_container& out) {
    const std::string directory_name = container_directory_name(container_name);
    if (directory_name.empty()) {
        return outcome(bad_keyset_name, "unusable key container name \"" + std::string(container_name) + "\"");
    }
    const std::string path = root + "/" + directory_name;
    if (create) {
        if (!paths::make_directories(root)) {
            return outcome(failure, "cannot create the key container root " + root);
        }
        if (::mkdir(path.c_str(), 0700) != 0) {
            const int error = errno;
            return error == EEXIST ? outcome(exists, "key container \"" + std::string(container_name) +
                                                         "\" exists already (" + path + ")")
                                   : outcome(failure, "cannot create " + path + ": " + std::strerror(error));
        }
    }
    key_container made;
    if (outcome opened = open_private_directory(path, made.m_oDirectory); !opened) {
        if (opened.code() == bad_keyset) {
            return outcome(bad_keyset,
                           "key container \"" + std::string(container_name) + "\" does not exist (" + path + ")");
        }
        return opened;
    }
    made.m_strName = std::string(container_name);
    made.m_strDirectory = path;
    out = std::move(made);
    return {};
}

std::string key_container::key_file_path(key_pair_kind kind) const {
    return m_strDirectory + "/" + key_file_name(kind);
}

bool key_container::has_key(key_pair_kind kind) const {
    return m_oDirectory && private_file_exists(m_oDirectory, key_file_name(kind));
}

key_file_stamp key_container::stamp(key_pair_kind kind) const {
    struct stat seen {};
    if (!m_oDirectory || ::fstatat(m_oDirectory.get(), key_file_name(kind), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
        return {};
    }
    return {true, static_cast<std::uint64_t>(seen.st_dev), static_cast<std::uint64_t>(seen.st_ino),
            static_cast<std::int64_t>(seen.st_mtim.tv_sec) * 1000000000 + seen.st_mtim.tv_nsec,
            static_cast<std::int64_t>(seen.st_size)};
}

outcome key_container::get_key(key_pair_kind kind, rsa_key& out) const {
    if (!m_oDirectory) {
        return outcome(bad_keyset, "no key container is open");
    }
    secure_bytes pem;
    if (outcome read = read_private_file(m_oDirectory, key_file_name(kind), key_file_path(kind), pem); !read) {
        return read;
    }
    const std::string_view text(reinterpret_cast<const char*>(pem.data()), pem.size());
    if (outcome parsed = rsa_key::from_private_pem(text, out); !parsed) {
        return outcome(parsed.code(), key_file_path(kind) + ": " + parsed.text());
    }
    return {};
}

outcome key_container::generate_key(key_pair_kind kind, unsigned bits, rsa_key& out) {
    if (!m_oDirectory) {
        return outcome(bad_keyset, "no key container is open");
    }
    if (!is_user_key_bits(bits)) {
        return outcome(bad_flags,
                       "a user key pair has 1024 to 16384 bits in steps of 256, not " + std::to_string(bits));
    }
    rsa_key made;
    if (outcome generated = rsa_key::generate(bits, made); !generated) {
        return generated;
    }
    if (outcome stored = replace_key(kind, made); !stored) {
        return stored;
    }
    out = std::move(made);
    return {};
}

outcome key_container::replace_key(key_pair_kind kind, const rsa_key& key) {
    if (!m_oDirectory) {
        return outcome(bad_keyset, "no key container is open");
    }
    if (!key.has_private()) {
        return outcome(bad_key, "only a full key pair can be stored");
    }
    secure_bytes pem;
    if (outcome written = key.to_private_pem(pem); !written) {
        return written;
    }
    return write_private_file(m_oDirectory, key_file_name(kind), {pem.data(), pem.size()});
}

} // namespace tiv::cryptoapi
