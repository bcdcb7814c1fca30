#pragma once

#include <optional>
#include <string>

#include "core/transfer_view.h"
#include "net/transfer/parcel_receipt.h"

namespace tiv {

// How a transfer, or one file of a parcel stream, ended: one value that says all of it, from which a body ends its
// transfer and logs why. Expected failures are values of this kind, never a second meaning of a status number.
struct transfer_outcome {
    // Whether the transfer reached the end of its data (it then ends in state COMPLETED, failed or not); one that
    // failed before stays in the state in which it stopped.
    bool completed = true;
    // Why it failed, as the side that ends the transfer means it; none when nothing failed.
    std::optional<transfer_status> status;
    // Why, when neither the status nor the receipt says it.
    std::string words;
    // The receiver's answer: the one it sends (receiver), or the one that arrived (sender). A sender that holds one
    // before its data went out whole was answered early.
    std::optional<parcel_receipt> receipt;
    // Receiver: where the file was stored under its name.
    std::string stored_path;

    [[nodiscard]] bool failed() const { return status.has_value(); }

    // A failure after the data phase began.
    [[nodiscard]] static transfer_outcome failure(transfer_status status, std::string words = {}) {
        return {.completed = true, .status = status, .words = std::move(words), .receipt = {}, .stored_path = {}};
    }
    // A failure before the data phase, where the transfer stands.
    [[nodiscard]] static transfer_outcome early_failure(transfer_status status, std::string words = {}) {
        return {.completed = false, .status = status, .words = std::move(words), .receipt = {}, .stored_path = {}};
    }
    // The receiver's refusal: its receipt, which carries the status and the reason.
    [[nodiscard]] static transfer_outcome refusal(parcel_receipt receipt) {
        const transfer_status status = transfer_status_numbered(receipt.status).value_or(transfer_status::refused);
        return {.completed = true, .status = status, .words = {}, .receipt = std::move(receipt), .stored_path = {}};
    }
};

} // namespace tiv
