#include "platform/key_container_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/regular_file.h"
#include "platform/crypto_backend/crypto_backend_random.h"

namespace tiv::cryptoapi {

namespace {
// A PEM RSA key of 16384 bits is about 13 KB; anything far larger is not one of ours.
constexpr off_t max_key_file_size = 64 * 1024;

std::string errno_text(int error) {
    return std::strerror(error);
}

std::string mode_text(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    return text;
}

// Ownership and access of an object that holds or guards private keys.
outcome check_private(const struct stat& info, const std::string& shown_path, const char* what) {
    if (info.st_uid != ::geteuid()) {
        return outcome(permission, std::string(what) + " " + shown_path + " belongs to another user (uid " +
                                       std::to_string(info.st_uid) + "); refusing to use it");
    }
    if ((info.st_mode & 077) != 0) {
        return outcome(permission, std::string(what) + " " + shown_path + " is open to group or others (mode " +
                                       mode_text(info.st_mode) + "); refusing to use it until only its owner " +
                                       "can reach it");
    }
    return {};
}

outcome write_all(file_writer& files, int fd, std::span<const std::uint8_t> data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = files.write(fd, data.data() + done, data.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return outcome(failure, "writing a key file: " + errno_text(errno));
        }
        if (written == 0) { // nothing taken and no error: retrying would loop for ever
            return outcome(failure, "writing a key file: " + errno_text(ENOSPC));
        }
        done += std::size_t(written);
    }
    return {};
}

outcome temporary_name(const std::string& name, std::string& out) {
    std::uint8_t suffix[8];
    if (outcome got = random_bytes(suffix); !got) {
        return got;
    }
    out = "." + name + ".tmp-";
    for (const std::uint8_t byte : suffix) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", unsigned(byte));
        out += hex;
    }
    return {};
}
} // namespace

outcome open_private_directory(const std::string& path, unique_fd& out) {
    unique_fd directory(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory) {
        const int error = errno;
        if (error == ENOENT) {
            return outcome(bad_keyset, "key container directory " + path + " does not exist");
        }
        return outcome(permission,
                       "cannot open the key container directory " + path + ": " + errno_text(error) +
                           (error == ELOOP || error == ENOTDIR ? " (a symbolic link or not a directory)" : ""));
    }
    struct stat info {};
    if (::fstat(directory.get(), &info) != 0) {
        return outcome(failure, "cannot examine " + path + ": " + errno_text(errno));
    }
    if (outcome checked = check_private(info, path, "key container directory"); !checked) {
        return checked;
    }
    out = std::move(directory);
    return {};
}

bool private_file_exists(const unique_fd& directory, const std::string& name) {
    struct stat info {};
    return ::fstatat(directory.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

outcome read_private_file(const unique_fd& directory, const std::string& name, const std::string& shown_path,
                          secure_bytes& out) {
    // O_NONBLOCK so that a FIFO planted under the name cannot stall us; regular files ignore it.
    const unique_fd file(::openat(directory.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file) {
        const int error = errno;
        if (error == ENOENT) {
            return outcome(no_key, "key file " + shown_path + " does not exist");
        }
        return outcome(permission, "cannot open the key file " + shown_path + ": " + errno_text(error) +
                                       (error == ELOOP ? " (a symbolic link)" : ""));
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        return outcome(failure, "cannot examine " + shown_path + ": " + errno_text(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return outcome(permission, "key file " + shown_path + " is not a regular file; refusing to use it");
    }
    if (outcome checked = check_private(info, shown_path, "key file"); !checked) {
        return checked;
    }
    if (info.st_size > max_key_file_size) {
        return outcome(bad_data, "key file " + shown_path + " is too large to be a key");
    }
    secure_bytes contents(std::size_t(info.st_size));
    const ssize_t done = read_until_full(file.get(), contents.data(), contents.size());
    if (done < 0) {
        return outcome(failure, "reading " + shown_path + ": " + errno_text(errno));
    }
    contents.truncate(std::size_t(done));
    out = std::move(contents);
    return {};
}

outcome write_private_file(const unique_fd& directory, const std::string& name, std::span<const std::uint8_t> data,
                           file_writer& files) {
    std::string temporary;
    if (outcome named = temporary_name(name, temporary); !named) {
        return named;
    }
    unique_fd file =
        files.open_at(directory.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (!file) {
        return outcome(failure, "cannot create a key file: " + errno_text(errno));
    }
    // The umask may have taken bits away; the mode must be exactly owner read and write.
    outcome result;
    if (::fchmod(file.get(), 0600) != 0) {
        result = outcome(failure, "cannot set the mode of a key file: " + errno_text(errno));
    }
    if (result) {
        result = write_all(files, file.get(), data);
    }
    if (result && files.sync(file.get()) != 0) {
        result = outcome(failure, "cannot flush a key file to disk: " + errno_text(errno));
    }
    if (result && files.close(std::move(file)) != 0) {
        result = outcome(failure, "cannot close a key file: " + errno_text(errno));
    }
    if (result && ::renameat(directory.get(), temporary.c_str(), directory.get(), name.c_str()) != 0) {
        result = outcome(failure, "cannot put the new key file in place: " + errno_text(errno));
    }
    if (!result) {
        (void)files.close(std::move(file));
        ::unlinkat(directory.get(), temporary.c_str(), 0);
        return result;
    }
    if (files.sync(directory.get()) != 0) {
        return outcome(failure, "cannot flush the key container directory: " + errno_text(errno));
    }
    return {};
}

} // namespace tiv::cryptoapi
