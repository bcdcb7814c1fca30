#include "app/settings/parcel_box_folder.h"

#include <cstring>
#include <string_view>

#include "app/internal/program_parts.h"
#include "core/outside_text.h"
#include "net/box/parcel_box.h"
#include "net/box/parcel_names.h"
#include "settings/friend_profile.h"

namespace tiv::app {

result<std::string> parcel_box_folder(program& p, const std::string& friend_name) {
    const qvl_settings_data& settings = settings_of(p);
    friend_profile profile;
    // Key data that disagree with their counts do not matter here: only the receipt directory is used.
    if (look_up_profile(settings, friend_name, profile) == profile_lookup::missing) {
        return status(status_code::not_found, "there is no friend named '" + escaped_text(friend_name) + "'.");
    }
    const std::string_view box(profile.receipt_directory,
                               ::strnlen(profile.receipt_directory, sizeof profile.receipt_directory));
    if (!is_plain_component(box)) {
        return status(status_code::invalid, "the parcel box of '" + escaped_text(friend_name) +
                                                "' cannot be opened: its receipt directory \"" + escaped_text(box) +
                                                "\" is not one plain directory name.");
    }
    const std::string root = settings.text(text_setting::parcel_box_directory_root);
    const std::string folder = root + "/" + std::string(box);
    if (const std::optional<std::string> refused = prepare_parcel_box(root, folder)) {
        return status(status_code::io_failure, *refused + ".");
    }
    return folder;
}

} // namespace tiv::app
