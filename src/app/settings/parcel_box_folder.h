#pragma once

#include <string>

#include "app/status.h"

namespace tiv::app {

class program;

// The folder where the friend `friend_name`'s parcels land: the parcel box root and the friend's receipt
// directory, made ready as the receiver makes it (created with mode 0700 when missing, never through a symbolic
// link), so a file manager can show it before the first parcel arrives. Refused, with the reason: not_found for
// no such friend, invalid for a receipt directory that is not one plain directory name (it could lead out of the
// root), io_failure for a folder that cannot be created or is not the user's own.
[[nodiscard]] result<std::string> parcel_box_folder(program& p, const std::string& friend_name);

} // namespace tiv::app
