#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "net/transfer/parcel_receipt.h"
#include "net/transfer/transfer_outcome.h"

namespace tiv {

// How the data of one received file ended, as the loop that wrote it saw it.
enum class data_end {
    whole,          // the sender's end of the file arrived
    abandoned,      // the sender ended the file before its end, and said so
    cut,            // the connection broke, or what arrived did not decrypt
    stopped,        // the transfer was stopped
    over_limit,     // more arrived than the friend's largest file
    over_announced, // more arrived than the sender announced
    write_failed,   // a write into the file failed
};

// What a receiver knows of one file once its data ended: all that decides whether it is kept.
struct received_file {
    data_end end = data_end::whole;
    std::uint64_t announced = 0; // the size the sender announced
    // The announcement carries only the size's low 32 bits (the single-file record): a file of 4 GiB or more is
    // checked against those.
    bool announced_low_32_bits = false;
    std::uint64_t arrived = 0;     // bytes that arrived, a continued kept part's included
    std::uint64_t written = 0;     // bytes in the file when a write or the close failed
    int write_error = 0;           // the errno of that write or close
    bool closed = true;            // whether the file was closed without an error
    bool matches_kept_part = true; // the whole file's hash, as the sender gave it, matches the kept part continued
    std::uint64_t size_limit = 0;  // the friend's largest file, for over_limit
    unsigned log_handle = 0;       // the transfer's, for log lines
    std::string shown_name = {};   // the file as the sender named it, for log lines
};

// The receipt for a file that could not be written; `error` is the errno of the failed write or close.
[[nodiscard]] parcel_receipt write_failure_receipt(int error, std::uint64_t written);

// What becomes of a received file. One that may not be kept fails, with the receipt its sender is told; a stopped
// or cut transfer has no one to tell and no receipt. One that may be kept is given its name by `give_name`, which
// returns where it was stored, or none when it could not be: then it fails as well. Both stored and not stored
// are logged here, once for every receiver.
[[nodiscard]] transfer_outcome received_file_outcome(const received_file& file,
                                                     const std::function<std::optional<std::string>()>& give_name);

} // namespace tiv
