#include "app/receiver_readiness.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/provider_report.h"
#include "core/unique_fd.h"
#include "log/activity_log.h"
#include "net/parcel_names.h"
#include "platform/key_container.h"
#include "platform/paths.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

namespace {
std::string errno_text(int error) {
    return std::strerror(error);
}

status root_failure(const std::string& root, const std::string& reason) {
    return {status_code::io_failure, "the parcel box root " + root + " " + reason + "."};
}

// The reason a backend text gives, without the path it starts with when the caller names that path already.
std::string reason_after(const std::string& text, const std::string& path) {
    const std::string prefix = path + ": ";
    return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

status key_file_failure(const cryptoapi::key_container& container, cryptoapi::key_pair_kind kind,
                        const cryptoapi::status& found) {
    const std::string path = container.key_file_path(kind);
    const std::string rekey = " Run `quorvel-cli rekey` to make new keys; your friends then need your new profile.";
    switch (found.code()) {
    case cryptoapi::no_key:
        return {status_code::keys_unavailable, "the key file " + path + " is missing and could not be made." + rekey};
    case cryptoapi::permission:
    case cryptoapi::failure:
        return {status_code::keys_unavailable, "the key file cannot be used: " + found.text() + "."};
    default:
        return {status_code::keys_unavailable,
                "the key file " + path + " is damaged: " + reason_after(found.text(), path) + "." + rekey};
    }
}
} // namespace

status prepare_parcel_root(const std::string& root) {
    if (root.empty()) {
        return {status_code::invalid, "no parcel box root is set."};
    }
    (void)create_directory_path(root);
    struct stat info {};
    if (::stat(root.c_str(), &info) != 0) {
        // Which level refused is not kept by the creation above; one more try at the root itself says why.
        const int error = ::mkdir(root.c_str(), 0700) == 0 ? 0 : errno;
        if (error != 0) {
            return root_failure(root, "cannot be created: " + errno_text(error));
        }
    } else if (!S_ISDIR(info.st_mode)) {
        return root_failure(root, "is not a directory");
    }
    // Only making a file shows what permissions, ACLs and read-only mounts together allow. It has the temporary
    // shape, so a crash right here leaves nothing a start-up sweep would not remove.
    const std::string probe = root + "/" + temporary_parcel_name();
    const unique_fd file(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file) {
        return root_failure(root, "is not writable: " + errno_text(errno));
    }
    ::unlink(probe.c_str());
    return {};
}

status check_receiving_keys(const crypto_provider& provider) {
    if (provider.ready) {
        return {};
    }
    // The provider keeps only that a pair is missing; the container, read again, says which file and why.
    cryptoapi::key_container container;
    if (const cryptoapi::status opened =
            cryptoapi::key_container::open_in(provider.key_root(), crypto_provider::default_container_name, container);
        !opened) {
        return {status_code::keys_unavailable, "the key container cannot be opened: " + opened.text() + "."};
    }
    for (const auto kind : {cryptoapi::key_pair_kind::exchange, cryptoapi::key_pair_kind::signature}) {
        cryptoapi::rsa_key pair;
        if (const cryptoapi::status found = container.get_key(kind, pair); !found) {
            return key_file_failure(container, kind, found);
        }
    }
    // The files are sound now, but the provider opened without them; only a new start takes them up.
    const status state = provider_state(provider);
    return state ? status(status_code::keys_unavailable, "the keys were not ready when the program started.") : state;
}

status open_log_file(const std::string& path) {
    const auto failure = [&path](const std::string& reason) {
        return status(status_code::io_failure, "the activity log " + path + " cannot be written: " + reason + ".");
    };
    // A log this process already holds would stand in the way of its own probe below.
    close_activity_log();
    (void)paths::make_directories(paths::parent_directory(path));
    {
        const unique_fd probe(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
        if (!probe) {
            return failure(errno_text(errno));
        }
        if (::flock(probe.get(), LOCK_EX | LOCK_NB) != 0) {
            return failure(errno == EWOULDBLOCK ? "another running program writes to it" : errno_text(errno));
        }
    }
    if (!open_activity_log(path)) {
        return failure("its header could not be written");
    }
    return {};
}

} // namespace tiv::app
