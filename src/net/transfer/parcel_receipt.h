#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/transfer_view.h"

namespace tiv {

// Why a receiver did not keep a parcel, as both ends number it on the wire.
enum class receipt_reason : std::uint8_t {
    stored = 0,        // not a refusal: the file is in the parcel box
    receipt_off = 1,   // the friend may not send parcels
    over_size = 2,     // larger than the friend's maximum
    over_count = 3,    // the parcel box holds the friend's maximum of files
    disk_full = 4,     // no space left while writing
    name_refused = 5,  // the name names no file
    changed_size = 6,  // the bytes that arrived differ from the size the record announced
    rename_failed = 7, // written whole, but it could not be given its name
    write_failed = 8,  // the file could not be written, for another reason than a full disk
    messages_off = 9,  // a message, not a parcel: the receiver takes none from this friend (version 6 only)
};

// The receiver's answer to one parcel (or to a message, which it stored or refused alike), sent inside the session
// after the sender's end of file (or at once, when it refuses while the data still comes). A small record of fixed
// layout, little-endian:
//   0  2  magic 'Q' 'R'
//   2  1  layout version, 1
//   3  1  verdict: 0 stored, 1 refused
//   4  1  the receiver's transfer status (0xFF when stored)
//   5  1  receipt_reason
//   6  2  length n of the reason's text, at most max_text
//   8  n  the reason in UTF-8, without control characters
struct parcel_receipt {
    static constexpr std::size_t header_size = 8;
    static constexpr std::size_t max_text = 240;
    static constexpr std::uint8_t no_status = 0xFF;

    receipt_reason reason = receipt_reason::stored;
    std::uint8_t status = no_status;
    std::string text;

    [[nodiscard]] bool stored() const { return reason == receipt_reason::stored; }
    // A text longer than max_text is cut at a character boundary, and control characters become blanks.
    [[nodiscard]] std::vector<std::uint8_t> encode() const;
};

[[nodiscard]] parcel_receipt stored_receipt();
[[nodiscard]] parcel_receipt refusal_receipt(receipt_reason reason, transfer_status status, std::string text = {});

enum class receipt_parse { incomplete, complete, malformed };

// Reads a receipt from the start of `bytes`. Every length is checked before it is read: `incomplete` while more
// bytes are needed, `malformed` for anything a receiver never sends; `used` is the receipt's length when complete.
[[nodiscard]] receipt_parse decode_receipt(std::span<const std::uint8_t> bytes, parcel_receipt& receipt,
                                           std::size_t& used);

// The refusal as the sender shows it: who decided, and why in the receiver's words (or the reason's own, when the
// receiver gave none).
[[nodiscard]] std::string receipt_words(const parcel_receipt& receipt);

} // namespace tiv
