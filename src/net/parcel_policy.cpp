#include "net/parcel_policy.h"

#include <string_view>

#include "log/activity_log.h"
#include "net/parcel_names.h"
#include "net/parcel_tree_walk.h"
#include "net/received_folder.h"
#include "settings/friend_profile.h"

namespace tiv {

std::uint64_t count_files(const std::string& directory) {
    std::uint64_t count = 0;
    // A folder shaped like one of our files is walked all the same: it must not hide what it holds from the count.
    walk_regular_files(
        open_walk_root(directory), directory, static_cast<int>(max_folder_depth),
        [](std::string_view name) { return !is_temporary_parcel_name(name) && !is_kept_part_name(name); },
        [&](int, const std::string&, const std::string&) { ++count; });
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
