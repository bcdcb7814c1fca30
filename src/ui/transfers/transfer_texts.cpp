#include "ui/transfers/transfer_texts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace tiv::ui {

namespace {
using app::transfer_direction;
using app::transfer_state;
using app::transfer_status;

bool delivered(const app::transfer_view& transfer) {
    return transfer.finished && !transfer.failed && transfer.state == transfer_state::completed;
}

// " (resumed at 51 %)" for a file that went on from a part the receiver kept.
std::string resumedNote(const app::transfer_view& transfer) {
    if (transfer.resumed_from == 0 || transfer.size == 0) {
        return {};
    }
    const auto percent = static_cast<int>(static_cast<double>(std::min(transfer.resumed_from, transfer.size)) * 100.0 /
                                          static_cast<double>(transfer.size));
    return " (resumed at " + std::to_string(percent) + " %)";
}

std::string withThousands(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    return digits;
}
} // namespace

std::string transferStatusText(const app::transfer_view& transfer) {
    if (!transfer.finished || transfer.state == transfer_state::undefined) {
        return "xferring..." + resumedNote(transfer);
    }
    if (delivered(transfer)) {
        return app::transfer_state_name(transfer.state) + resumedNote(transfer);
    }
    // What happened first, then why; a transfer that ended short of COMPLETED without a recorded failure stopped.
    const char* outcome = "STOPPED";
    if (transfer.failed && transfer.status == transfer_status::refused) {
        outcome = "REFUSED";
    } else if (transfer.failed && transfer.status != transfer_status::stopped) {
        outcome = "FAILED";
    }
    const std::string why = transfer.failed && !transfer.status_text.empty()
                                ? transfer.status_text
                                : std::string("at ") + app::transfer_state_name(transfer.state);
    return std::string(outcome) + " (" + why + ")";
}

std::uint64_t transferBytesShown(const app::transfer_view& transfer) {
    return transfer.finished && !delivered(transfer) ? transfer.bytes_kept : transfer.bytes_done;
}

namespace {
double percentShown(const app::transfer_view& transfer) {
    if (transfer.size == 0) {
        return delivered(transfer) ? 100.0 : 0.0;
    }
    return static_cast<double>(std::min(transferBytesShown(transfer), transfer.size)) * 100.0 /
           static_cast<double>(transfer.size);
}
} // namespace

int transferPercent(const app::transfer_view& transfer) {
    return static_cast<int>(percentShown(transfer));
}

std::string transferPercentText(const app::transfer_view& transfer) {
    char text[16];
    std::snprintf(text, sizeof text, "%3.0f%%", percentShown(transfer));
    return text;
}

std::string transferFileName(const app::transfer_view& transfer) {
    if (!transfer.stored_path.empty()) {
        return transfer.stored_path.substr(transfer.stored_path.rfind('/') + 1);
    }
    const bool known =
        transfer.direction == transfer_direction::sending || transfer.state >= transfer_state::verifying_permissions;
    return known && !transfer.file_name.empty() ? transfer.file_name : "<unknown>";
}

std::string sizeText(std::uint64_t bytes) {
    if (bytes < 1000) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    static constexpr std::array units{"kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    while (value >= 999.95 && unit + 1 < units.size()) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string exactSizeText(std::uint64_t bytes) {
    return withThousands(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string speedText(double bytes_per_second) {
    if (!(bytes_per_second > 0.0)) {
        return {};
    }
    return sizeText(static_cast<std::uint64_t>(bytes_per_second)) + "/s";
}

std::string timeLeftText(const app::transfer_view& transfer, double bytes_per_second) {
    if (transfer.finished || !(bytes_per_second > 0.0) || transfer.bytes_done >= transfer.size) {
        return {};
    }
    const auto seconds = static_cast<std::uint64_t>(
        std::ceil(static_cast<double>(transfer.size - transfer.bytes_done) / bytes_per_second));
    char text[32];
    if (seconds < 60) {
        std::snprintf(text, sizeof text, "%llu s", static_cast<unsigned long long>(seconds));
    } else if (seconds < 3600) {
        std::snprintf(text, sizeof text, "%llu min %02llu s", static_cast<unsigned long long>(seconds / 60),
                      static_cast<unsigned long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%llu h %02llu min", static_cast<unsigned long long>(seconds / 3600),
                      static_cast<unsigned long long>(seconds % 3600 / 60));
    }
    return text;
}

namespace {
ParcelNotice notice(std::string summary, std::string body) {
    ParcelNotice made;
    made.summary = std::move(summary);
    made.body = std::move(body);
    return made;
}

ParcelNotice withStoredPath(ParcelNotice notice, const std::vector<app::transfer_view>& send) {
    const auto stored =
        std::find_if(send.begin(), send.end(), [](const app::transfer_view& row) { return !row.stored_path.empty(); });
    if (stored != send.end()) {
        notice.stored_path = stored->stored_path;
        notice.several = send.size() > 1;
    }
    return notice;
}

std::optional<ParcelNotice> incomingNotice(const std::vector<app::transfer_view>& send);
} // namespace

std::optional<ParcelNotice> parcelNotice(const std::vector<app::transfer_view>& send) {
    if (send.empty() || send.front().direction != transfer_direction::receiving || send.front().friend_name.empty()) {
        return std::nullopt;
    }
    return withStoredPath(*incomingNotice(send), send);
}

std::optional<ParcelNotice> sentNotice(const std::vector<app::transfer_view>& send) {
    if (send.empty()) {
        return std::nullopt;
    }
    const std::string to = send.front().friend_name.empty() ? send.front().peer_address : send.front().friend_name;
    const auto firstFailure = std::find_if_not(send.begin(), send.end(), delivered);
    const auto arrived = static_cast<std::size_t>(std::count_if(send.begin(), send.end(), delivered));
    if (send.size() == 1) {
        const app::transfer_view& only = send.front();
        return arrived == 1 ? notice(transferFileName(only) + " delivered to " + to, sizeText(only.size))
                            : notice(transferFileName(only) + " was not delivered to " + to, transferStatusText(only));
    }
    const std::string count = std::to_string(send.size());
    if (firstFailure == send.end()) {
        return notice(count + " files delivered to " + to, "Every file arrived.");
    }
    return notice(std::to_string(arrived) + " of " + count + " files delivered to " + to,
                  transferFileName(*firstFailure) + ": " + transferStatusText(*firstFailure));
}

namespace {
std::optional<ParcelNotice> incomingNotice(const std::vector<app::transfer_view>& send) {
    const std::string& from = send.front().friend_name;
    if (send.size() == 1 && send.front().folder_name.empty()) {
        const app::transfer_view& transfer = send.front();
        if (!delivered(transfer)) {
            return notice("Parcel from " + from + " failed", transfer.failed && !transfer.status_text.empty()
                                                                 ? transfer.status_text
                                                                 : transferStatusText(transfer));
        }
        // The bytes stored are the size, since the record holds only the low 32 bits of a larger file's.
        return notice("Parcel from " + from, transferFileName(transfer) + " (" + withThousands(transfer.bytes_done) +
                                                 " bytes) is in your parcel box");
    }
    std::size_t stored = 0;
    std::uint64_t bytes = 0;
    const app::transfer_view* firstFailure = nullptr;
    for (const app::transfer_view& transfer : send) {
        if (delivered(transfer)) {
            ++stored;
            bytes += transfer.bytes_done;
        } else if (firstFailure == nullptr) {
            firstFailure = &transfer;
        }
    }
    const std::string count = std::to_string(send.size());
    const std::string& folder = send.front().folder_name;
    std::string summary =
        folder.empty() ? (stored == send.size() ? count : std::to_string(stored) + " of " + count) + " parcels from " +
                             from + " (" + sizeText(bytes) + ")"
                       : "Folder '" + folder + "' from " + from + " (" +
                             (stored == send.size() ? count : std::to_string(stored) + " of " + count) + " files)";
    if (firstFailure == nullptr) {
        return notice(summary, "Everything is in your parcel box.");
    }
    const std::size_t failed = send.size() - stored;
    return notice(summary, std::to_string(failed) + (failed == 1 ? " file" : " files") + " did not arrive: " +
                               transferFileName(*firstFailure) + ": " + transferStatusText(*firstFailure));
}
} // namespace

} // namespace tiv::ui
