#pragma once

#include <string>

#include "app/transfer_view.h"

namespace tiv::cli {

// Whether a file of a send arrived: it ended whole, unfailed.
[[nodiscard]] bool arrived(const app::transfer_view& transfer);

// The final line of one file of a send, shown as `shown`: "COMPLETED" only for a file that arrived. A failure says so
// with its status and reason, and names the state it stopped in when that was before the end of its data; a failure
// at the end (a refusal, a receiver that did not keep the file) ends in COMPLETED too, a name that would read as a
// success.
[[nodiscard]] std::string send_result_line(const std::string& shown, const app::transfer_view& transfer);

} // namespace tiv::cli
