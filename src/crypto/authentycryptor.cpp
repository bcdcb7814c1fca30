#include "crypto/authentycryptor.h"

#include "net/parcel_policy.h"
#include "presence/activity_log.h"
#include "settings/friend_profile.h"

namespace tiv {

bool authentycryptor::accept_file(const friend_profile& sender, const std::string& parcel_box,
                                  const std::string& file_name, std::uint64_t file_size) const {
    if (const auto reason = parcel_refusal(sender, parcel_box, file_size)) {
        log_activity("R::Parcel refused [%s][%s]: %s", sender.name, file_name.c_str(), reason->c_str());
        return false;
    }
    return true;
}

} // namespace tiv
