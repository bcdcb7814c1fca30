#pragma once

#include "app/internal/only.h"

#include <string>

#include "app/status.h"
#include "crypto/crypto_provider.h"
#include "settings/qvl_settings_data.h"

// What a listener needs before it may accept anything, each decided here once, and the log file it writes. A
// listener that lacked the root or the keys would accept connections only to fail every one of them; so a start
// refuses instead and says which path is at fault and why. The log file is no such need: without it the lines
// still reach the window and the console, and parcels matter more than their record.
namespace tiv::app {

// The parcel box root as a private directory of this user that takes new files. A missing root is made first, as
// every start does, and one of ours that others may enter is brought back to 0700. invalid when it belongs to
// another user, also through a symbolic link (whoever owns it could plant a friend's box in it before the first
// parcel, which the receiver refuses: that friend would be locked out) and for a symbolic link of ours (it could be
// turned elsewhere later); io_failure when it cannot be made, is no directory or refuses a new file.
[[nodiscard]] status prepare_parcel_root(const std::string& root);

// The key pairs that authenticate every sender: keys_unavailable naming the key file and what is wrong with it
// (damaged, missing, not private) and the way out, ok when the provider is ready.
[[nodiscard]] status check_receiving_keys(const qvl_settings_data& settings, const crypto_provider& provider);

// Opens the activity log file at `path`, its directory made when missing; io_failure naming the file and the
// reason when it cannot be written (also when another running program writes to it), which the caller reports once
// and receives all the same.
[[nodiscard]] status open_log_file(const std::string& path);

} // namespace tiv::app
