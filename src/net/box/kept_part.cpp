#include "net/box/kept_part.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>

#include "log/activity_log.h"
#include "net/box/parcel_names.h"
#include "net/box/parcel_tree_walk.h"
#include "net/single_file/transfer_file.h"
#include "net/stream/received_folder.h"
#include "platform/crypto_backend/crypto_backend_random.h"

namespace tiv {

namespace {
// A sweep that locks a kept part between our open and our lock unlinks it; we then create it anew. Two such losses
// in a row are already beyond belief.
constexpr int claim_attempts = 3;
// Read in pieces this large: few calls for a file of gigabytes, little memory for a receiver of several.
constexpr std::size_t hash_piece = 1024 * 1024;
// Deeper than any folder a friend sends; only there so a tree built to exhaust us cannot.

void append_le64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::string error_text(int error) {
    return std::strerror(error);
}

// Compared in whole seconds: the limit may be many years, which nanoseconds cannot hold.
bool expired(const struct stat& info, std::chrono::seconds max_age, std::chrono::system_clock::time_point now) {
    if (max_age <= std::chrono::seconds::zero()) {
        return true;
    }
    const auto written =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
    return std::chrono::duration_cast<std::chrono::seconds>(now - written) >= max_age;
}

// The age is judged only under the lock: a transfer that wrote to the part since it was listed made it young again.
bool remove_if_expired(int directory, const char* name, std::chrono::seconds max_age, const time_source& clock) {
    return remove_unheld_file(directory, name,
                              [&](const struct stat& held) { return expired(held, max_age, clock.calendar()); });
}

} // namespace

std::string kept_part_key(std::string_view relative_path, std::uint64_t size, std::int64_t mtime_ns) {
    std::vector<std::uint8_t> encoded;
    encoded.reserve(relative_path.size() + 24);
    append_le64(encoded, relative_path.size());
    encoded.insert(encoded.end(), relative_path.begin(), relative_path.end());
    append_le64(encoded, size);
    append_le64(encoded, static_cast<std::uint64_t>(mtime_ns));
    cryptoapi::sha256_digest digest{};
    if (!cryptoapi::sha256(encoded, digest)) {
        return {};
    }
    constexpr std::string_view digits = "0123456789abcdef";
    std::string key;
    // Half the digest: 128 bits tell a friend's files apart as well as 256 would, in a shorter name.
    for (std::size_t i = 0; i < digest.size() / 2; ++i) {
        key += digits[digest[i] >> 4];
        key += digits[digest[i] & 0x0F];
    }
    return key;
}

kept_part::kept_part(unique_fd directory, unique_fd file, std::string name, std::string path)
    : m_oDirectory(std::move(directory)), m_oFile(std::move(file)), m_strName(std::move(name)),
      m_strPath(std::move(path)) {}

std::optional<kept_part> kept_part::open(int dir_fd, const std::string& dir_path, std::string_view key,
                                         std::string& why) {
    const std::string name = kept_part_name(key);
    const std::string path = without_trailing_separator(dir_path) + "/" + name;
    // Also what keeps a key from leading out of the directory.
    if (!is_kept_part_name(name)) {
        why = "no kept part can be named after a key that is not 32 lowercase hexadecimal digits";
        return std::nullopt;
    }
    unique_fd directory(::fcntl(dir_fd, F_DUPFD_CLOEXEC, 0));
    if (!directory) {
        why = "cannot use the directory " + dir_path + ": " + error_text(errno);
        return std::nullopt;
    }
    for (int attempt = 0; attempt < claim_attempts; ++attempt) {
        // Non-blocking, so a FIFO put under the name is refused at once rather than waited on.
        unique_fd file(
            ::openat(directory.get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (!file) {
            const int error = errno;
            why = error == ELOOP ? path + " is a symbolic link, not a kept part"
                                 : "cannot open " + path + ": " + error_text(error);
            return std::nullopt;
        }
        struct stat info {};
        if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            why = path + " is not a regular file, so not a kept part";
            return std::nullopt;
        }
        // Unlike a temporary's claim, a part is not written unheld where locks fail: two transfers appending to one
        // part would spoil it, and a transfer without a resume still arrives whole.
        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            why = error == EWOULDBLOCK ? "another transfer holds " + path
                                       : "cannot hold " + path + ": " + error_text(error);
            return std::nullopt;
        }
        // Swept between our open and our lock: the name now leads elsewhere or nowhere.
        if (!tiv::still_named(directory.get(), name.c_str(), file.get())) {
            continue;
        }
        if (::fstat(file.get(), &info) != 0 || info.st_nlink != 1) {
            // A second name would make a truncation or an append reach a file somewhere else.
            why = path + " has another name as well, so it is not a kept part";
            return std::nullopt;
        }
        return kept_part(std::move(directory), std::move(file), name, path);
    }
    why = "cannot hold " + path + ": it was removed each time it was opened";
    return std::nullopt;
}

std::uint64_t kept_part::length() const {
    struct stat info {};
    return ::fstat(m_oFile.get(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

bool kept_part::hash_into(cryptoapi::sha256_stream& hasher) const {
    struct stat info {};
    if (::fstat(m_oFile.get(), &info) != 0) {
        return false;
    }
    const auto total = static_cast<std::uint64_t>(info.st_size);
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(total, hash_piece));
    const std::unique_ptr<std::uint8_t[]> buffer(piece > 0 ? new (std::nothrow) std::uint8_t[piece] : nullptr);
    if (piece > 0 && buffer == nullptr) {
        return false;
    }
    std::uint64_t done = 0;
    while (done < total && hasher.ok()) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(total - done, piece));
        const ssize_t got = ::pread(m_oFile.get(), buffer.get(), wanted, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        hasher.update({buffer.get(), static_cast<std::size_t>(got)});
        done += static_cast<std::uint64_t>(got);
    }
    return hasher.ok();
}

bool kept_part::discard() {
    return m_oFile && ::ftruncate(m_oFile.get(), 0) == 0;
}

unique_fd kept_part::writer(file_writer& files) const {
    if (!m_oDirectory) {
        return {};
    }
    unique_fd out =
        files.open_at(m_oDirectory.get(), m_strName.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
    if (!out) {
        return {};
    }
    // Whatever now stands under the name, only the file held may be written.
    struct stat held {};
    struct stat opened {};
    if (::fstat(m_oFile.get(), &held) != 0 || ::fstat(out.get(), &opened) != 0 || !same_file(held, opened)) {
        return {};
    }
    // The receiver writes as to any file; only the open had to be non-blocking.
    const int flags = ::fcntl(out.get(), F_GETFL);
    if (flags < 0 || ::fcntl(out.get(), F_SETFL, flags & ~O_NONBLOCK) != 0 || ::lseek(out.get(), 0, SEEK_END) < 0) {
        return {};
    }
    return out;
}

bool kept_part::still_named() const {
    return m_oDirectory && m_oFile && tiv::still_named(m_oDirectory.get(), m_strName.c_str(), m_oFile.get());
}

bool kept_part::remove() {
    return still_named() && ::unlinkat(m_oDirectory.get(), m_strName.c_str(), 0) == 0;
}

std::vector<std::string> trim_kept_parts(int box_fd, const std::string& box_path, std::string_view current,
                                         std::uint64_t largest) {
    struct listed {
        std::string name;
        struct stat info;
    };
    std::vector<listed> others;
    // A description of its own, so the listing never moves the caller's.
    walk_regular_files(unique_fd(::openat(box_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), box_path, 0,
                       is_kept_part_name, [&](int directory, const std::string& name, const std::string&) {
                           struct stat info {};
                           if (name != current && ::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
                               others.push_back({name, info});
                           }
                       });
    std::sort(others.begin(), others.end(), [](const listed& a, const listed& b) {
        const auto& x = a.info.st_mtim;
        const auto& y = b.info.st_mtim;
        return x.tv_sec != y.tv_sec     ? x.tv_sec > y.tv_sec
               : x.tv_nsec != y.tv_nsec ? x.tv_nsec > y.tv_nsec
                                        : a.name < b.name;
    });
    std::vector<std::string> removed;
    std::size_t staying = 1; // the part just kept
    for (const listed& part : others) {
        const bool room = staying < max_kept_parts;
        // The size is judged under the lock: a transfer may have written to the part since it was listed.
        const bool gone = remove_unheld_file(box_fd, part.name.c_str(), [&](const struct stat& held) {
            return !room || static_cast<std::uint64_t>(held.st_size) > largest;
        });
        if (gone) {
            const std::string path = without_trailing_separator(box_path) + "/" + part.name;
            log_activity("Removed the kept part %s: older than the %zu a friend may have, or over their largest file",
                         path.c_str(), max_kept_parts);
            removed.push_back(path);
        } else {
            ++staying;
        }
    }
    return removed;
}

std::vector<std::string> remove_expired_kept_parts(const std::string& parcel_root, std::chrono::seconds max_age,
                                                   const time_source& clock) {
    std::vector<std::string> removed;
    walk_regular_files(open_walk_root(parcel_root), without_trailing_separator(parcel_root),
                       1 + static_cast<int>(max_folder_depth), is_kept_part_name,
                       [&](int directory, const std::string& name, const std::string& shown) {
                           if (remove_if_expired(directory, name.c_str(), max_age, clock)) {
                               const std::string path = shown + "/" + name;
                               log_activity("Removed the expired kept part of a broken transfer %s", path.c_str());
                               removed.push_back(path);
                           }
                       });
    return removed;
}

} // namespace tiv
