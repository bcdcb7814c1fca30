#include "app/settings/background_receiving.h"

#include "app/internal/program_parts.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"

namespace tiv::app {

bool keeps_receiving_in_background(program& p) {
    return read_dword_setting(settings_of(p).user_key(), names::keep_receiving_in_background).value_or(1) != 0;
}

status set_keep_receiving_in_background(program& p, bool on) {
    if (!write_dword_setting(settings_of(p).user_key(), names::keep_receiving_in_background, on ? 1 : 0)) {
        return {status_code::io_failure, "the choice to keep receiving in the background could not be saved."};
    }
    return {};
}

bool claim_background_notice(program& p) {
    const reg::key& user = settings_of(p).user_key();
    if (read_dword_setting(user, names::background_notice_given).value_or(0) != 0) {
        return false;
    }
    // Told once even where the store refuses to remember it: better than a notice at every close.
    (void)write_dword_setting(user, names::background_notice_given, 1);
    return true;
}

} // namespace tiv::app
