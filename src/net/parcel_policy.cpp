#include "net/parcel_policy.h"

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

#include "log/activity_log.h"
#include "net/parcel_names.h"
#include "settings/friend_profile.h"

namespace tiv {

std::uint64_t count_files(const std::string& directory) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(directory.c_str()), ::closedir);
    if (listing == nullptr) {
        return 0;
    }
    std::uint64_t count = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        if (is_temporary_parcel_name(entry->d_name)) {
            continue;
        }
        struct stat info {};
        if (::fstatat(::dirfd(listing.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode)) {
            ++count;
        }
    }
    return count;
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
