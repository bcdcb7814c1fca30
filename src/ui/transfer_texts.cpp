#include "ui/transfer_texts.h"

#include <algorithm>
#include <cstdio>

#include "net/transfer_state.h"

namespace tiv::ui {

namespace {
bool delivered(const transfer_snapshot& transfer) {
    return transfer.finished && !transfer.failed && transfer.state == COMPLETED;
}
} // namespace

std::string transferStatusText(const transfer_snapshot& transfer) {
    if (!transfer.finished || transfer.state <= UNDEFINED) {
        return "xferring...";
    }
    if (delivered(transfer)) {
        return transfer_state_name(transfer.state);
    }
    std::string text = std::string("ERROR: ") + transfer_state_name(transfer.state);
    if (transfer.failed && !transfer.status_text.empty()) {
        text += " (" + transfer.status_text + ")";
    }
    return text;
}

std::string transferPercentText(const transfer_snapshot& transfer) {
    double percent = 0.0;
    if (transfer.size == 0) {
        percent = delivered(transfer) ? 100.0 : 0.0;
    } else {
        percent = static_cast<double>(std::min(transfer.bytes_done, transfer.size)) * 100.0 /
                  static_cast<double>(transfer.size);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%3.0f%%", percent);
    return text;
}

std::string transferFileName(const transfer_snapshot& transfer) {
    const bool known = transfer.direction == transfer_direction::sending || transfer.state >= VERIFYING_PERMISSIONS;
    return known && !transfer.file_name.empty() ? transfer.file_name : "<unknown>";
}

} // namespace tiv::ui
