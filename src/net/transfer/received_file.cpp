#include "net/transfer/received_file.h"

#include <cerrno>
#include <cstring>

#include "core/transfer_view.h"
#include "log/activity_log.h"

namespace tiv {

namespace {
transfer_outcome refused(receipt_reason reason, transfer_status status, std::string text = {}) {
    return transfer_outcome::refusal(refusal_receipt(reason, status, std::move(text)));
}

bool same_size(const received_file& file) {
    return file.announced_low_32_bits ? static_cast<std::uint32_t>(file.arrived) == file.announced
                                      : file.arrived == file.announced;
}

// Why the file may not be kept, from its data alone: the sender's faults before our own disk's.
std::optional<transfer_outcome> unkeepable(const received_file& file) {
    switch (file.end) {
    case data_end::stopped:
        return transfer_outcome::failure(transfer_status::stopped);
    case data_end::cut:
        return transfer_outcome::failure(transfer_status::receive);
    case data_end::over_limit:
        return refused(receipt_reason::over_size, transfer_status::refused,
                       "more than the maximum of " + std::to_string(file.size_limit) + " bytes arrived");
    case data_end::over_announced:
        return refused(receipt_reason::changed_size, transfer_status::receive,
                       "more data arrived than the " + std::to_string(file.announced) + " bytes announced");
    case data_end::write_failed:
        return transfer_outcome::refusal(write_failure_receipt(file.write_error, file.written));
    case data_end::abandoned:
        return refused(receipt_reason::changed_size, transfer_status::receive,
                       "the sender stopped before the end of the file");
    case data_end::whole:
        break;
    }
    if (!same_size(file)) {
        return refused(receipt_reason::changed_size, transfer_status::receive,
                       "the file changed size while it was being sent: " + std::to_string(file.arrived) +
                           " bytes arrived, " + std::to_string(file.announced) + " were announced");
    }
    if (!file.matches_kept_part) {
        return refused(receipt_reason::changed_size, transfer_status::receive,
                       "the file differs from the part kept of an earlier transfer");
    }
    if (!file.closed) {
        return transfer_outcome::refusal(write_failure_receipt(file.write_error, file.written));
    }
    return std::nullopt;
}
} // namespace

parcel_receipt write_failure_receipt(int error, std::uint64_t written) {
    const std::string after = " after " + std::to_string(written) + " bytes";
    if (error == ENOSPC || error == EDQUOT) {
        return refusal_receipt(receipt_reason::disk_full, transfer_status::receive,
                               "the receiver's disk is full" + after);
    }
    return refusal_receipt(receipt_reason::write_failed, transfer_status::receive,
                           std::string("the file could not be written") + after +
                               (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
}

transfer_outcome received_file_outcome(const received_file& file,
                                       const std::function<std::optional<std::string>()>& give_name) {
    if (std::optional<transfer_outcome> refusal = unkeepable(file)) {
        return std::move(*refusal);
    }
    const std::optional<std::string> stored = give_name();
    if (!stored) {
        log_activity("%x: R: RENAME FAILURE[%s]", file.log_handle, file.shown_name.c_str());
        return refused(receipt_reason::rename_failed, transfer_status::receive);
    }
    log_activity("%x: R: STORED[%s]", file.log_handle, stored->c_str());
    transfer_outcome kept;
    kept.receipt = stored_receipt();
    kept.stored_path = *stored;
    return kept;
}

} // namespace tiv
