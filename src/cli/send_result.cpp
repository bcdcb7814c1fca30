#include "cli/send_result.h"

#include <sstream>

#include "core/outside_text.h"
#include "net/transfer/transfer_state.h"

namespace tiv::cli {

bool arrived(const transfer_snapshot& transfer) {
    return !transfer.failed && transfer.state == COMPLETED;
}

std::string send_result_line(const std::string& shown, const transfer_snapshot& transfer) {
    std::ostringstream line;
    line << escaped_text(shown) << ": ";
    if (arrived(transfer)) {
        line << transfer_state_name(COMPLETED);
        if (transfer.resumed_from > 0) {
            line << " (resumed at byte " << transfer.resumed_from << " of " << transfer.size
                 << ": the receiver had kept the first " << (transfer.resumed_from * 100 / transfer.size) << "%)";
        }
        return line.str();
    }
    if (transfer.state != COMPLETED) {
        line << transfer_state_name(transfer.state) << ": ";
    }
    // The reason may quote the receiver's own words.
    line << "failed, status " << transfer.status << " (" << escaped_text(transfer.status_text) << ")";
    return line.str();
}

} // namespace tiv::cli
