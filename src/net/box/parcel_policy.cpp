#include "net/box/parcel_policy.h"

#include "core/transfer_view.h"
#include "settings/friend_profile.h"

namespace tiv {

std::optional<parcel_receipt> parcel_refusal(const friend_profile& sender, box_ledger& ledger,
                                             const std::string& parcel_box, std::uint64_t file_size,
                                             std::uint64_t entries, box_ledger::reservation& slot) {
    if (sender.receipt_enabled == 0) {
        return refusal_receipt(receipt_reason::receipt_off, transfer_status::refused,
                               "parcel receipt is disabled for this friend");
    }
    const std::string what = entries == 1 ? "the file" : "the folder";
    if (sender.max_file_size != unlimited && file_size > sender.max_file_size) {
        return refusal_receipt(receipt_reason::over_size, transfer_status::refused,
                               what + " of " + std::to_string(file_size) + " bytes is larger than the maximum of " +
                                   std::to_string(sender.max_file_size) + " bytes");
    }
    std::uint64_t held = 0;
    std::optional<box_ledger::reservation> reserved = ledger.reserve(parcel_box, entries, sender.max_file_count, held);
    if (!reserved) {
        return refusal_receipt(
            receipt_reason::over_count, transfer_status::refused,
            "the parcel box already holds " + std::to_string(held) + " files, the maximum is " +
                std::to_string(sender.max_file_count) +
                (entries == 1 ? std::string() : " (the folder holds " + std::to_string(entries) + " entries)"));
    }
    slot = std::move(*reserved);
    return std::nullopt;
}

} // namespace tiv
