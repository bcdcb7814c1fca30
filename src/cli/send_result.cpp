#include "cli/send_result.h"

#include <sstream>

#include "core/outside_text.h"

namespace tiv::cli {

using app::transfer_state;

bool arrived(const app::transfer_view& transfer) {
    return !transfer.failed && transfer.state == transfer_state::completed;
}

std::string send_result_line(const std::string& shown, const app::transfer_view& transfer) {
    std::ostringstream line;
    line << escaped_text(shown) << ": ";
    if (arrived(transfer)) {
        line << app::transfer_state_name(transfer_state::completed);
        if (transfer.resumed_from > 0) {
            line << " (resumed at byte " << transfer.resumed_from << " of " << transfer.size
                 << ": the receiver had kept the first " << (transfer.resumed_from * 100 / transfer.size) << "%)";
        }
        return line.str();
    }
    if (transfer.state != transfer_state::completed) {
        line << app::transfer_state_name(transfer.state) << ": ";
    }
    // The reason may quote the receiver's own words.
    line << "failed, status " << number_of(transfer.status) << " (" << escaped_text(transfer.status_text) << ")";
    return line.str();
}

} // namespace tiv::cli
