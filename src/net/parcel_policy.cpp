#include "net/parcel_policy.h"

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>

#include "core/unique_fd.h"
#include "log/activity_log.h"
#include "net/parcel_names.h"
#include "net/received_folder.h"
#include "settings/friend_profile.h"

namespace tiv {

namespace {
// `levels`: how many levels of folders inside still count, so a tree deeper than any a peer may send is not walked
// to its end.
std::uint64_t count_below(unique_fd directory, std::size_t levels) {
    if (!directory) {
        return 0;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(directory.get()), ::closedir);
    if (listing == nullptr) {
        return 0;
    }
    (void)directory.release();
    const int fd = ::dirfd(listing.get());
    std::uint64_t count = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        struct stat info {};
        if (name == "." || name == ".." || ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISREG(info.st_mode)) {
            count += is_temporary_parcel_name(name) || is_kept_part_name(name) ? 0 : 1;
        } else if (S_ISDIR(info.st_mode) && levels > 0) {
            // Whatever its name: a folder shaped like one of our files must not hide what it holds from the count.
            count += count_below(
                unique_fd(::openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)), levels - 1);
        }
    }
    return count;
}
} // namespace

std::uint64_t count_files(const std::string& directory) {
    // The box itself may be a link the user made; nothing below it is followed.
    return count_below(unique_fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), max_folder_depth);
}

std::optional<std::string> parcel_refusal(const friend_profile& sender, const std::string& parcel_box,
                                          std::uint64_t file_size, std::uint64_t files) {
    if (sender.receipt_enabled == 0) {
        return "parcel receipt is disabled for this friend";
    }
    const std::string what = files == 1 ? "the file" : "the folder";
    if (sender.max_file_size != unlimited && file_size > sender.max_file_size) {
        return what + " of " + std::to_string(file_size) + " bytes is larger than the maximum of " +
               std::to_string(sender.max_file_size) + " bytes";
    }
    if (sender.max_file_count != unlimited) {
        const std::uint64_t held = count_files(parcel_box);
        if (held + files > sender.max_file_count) {
            return "the parcel box already holds " + std::to_string(held) + " files, the maximum is " +
                   std::to_string(sender.max_file_count) +
                   (files == 1 ? std::string() : " (the folder holds " + std::to_string(files) + ")");
        }
    }
    return std::nullopt;
}

bool accept_file(const friend_profile& sender, const std::string& parcel_box, const std::string& file_name,
                 std::uint64_t file_size) {
    if (const auto reason = parcel_refusal(sender, parcel_box, file_size)) {
        log_activity("R::Parcel refused [%s][%s]: %s", sender.name, file_name.c_str(), reason->c_str());
        return false;
    }
    return true;
}

} // namespace tiv
