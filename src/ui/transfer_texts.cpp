#include "ui/transfer_texts.h"

#include <algorithm>
#include <cstdio>

#include "net/transfer_state.h"

namespace tiv::ui {

namespace {
bool delivered(const transfer_snapshot& transfer) {
    return transfer.finished && !transfer.failed && transfer.state == COMPLETED;
}

std::string withThousands(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    return digits;
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

std::optional<ParcelNotice> parcelNotice(const transfer_snapshot& transfer) {
    if (transfer.direction != transfer_direction::receiving || !transfer.finished || transfer.friend_name.empty()) {
        return std::nullopt;
    }
    const std::string from = "Parcel from " + transfer.friend_name;
    if (!delivered(transfer)) {
        return ParcelNotice{from + " failed", transfer.failed && !transfer.status_text.empty()
                                                  ? transfer.status_text
                                                  : transferStatusText(transfer)};
    }
    // The box may have stored it under another name than the record's, so as not to replace a file; and the bytes
    // stored are the size, since the record holds only the low 32 bits of a larger file's.
    const std::string name = transfer.stored_path.empty()
                                 ? transfer.file_name
                                 : transfer.stored_path.substr(transfer.stored_path.rfind('/') + 1);
    return ParcelNotice{from, name + " (" + withThousands(transfer.bytes_done) + " bytes) is in your parcel box"};
}

} // namespace tiv::ui
