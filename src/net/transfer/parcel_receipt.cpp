#include "net/transfer/parcel_receipt.h"

#include <algorithm>
#include <utility>

#include "core/byte_fields.h"

namespace tiv {

namespace {
constexpr std::uint8_t magic[2] = {'Q', 'R'};
constexpr std::uint8_t layout_version = 1;
constexpr std::uint8_t verdict_stored = 0;
constexpr std::uint8_t verdict_refused = 1;
constexpr std::uint8_t last_reason = static_cast<std::uint8_t>(receipt_reason::messages_off);

// The length of the UTF-8 sequence at `at` that a terminal may print: 0 for a malformed sequence (overlong,
// surrogate, beyond U+10FFFF, cut short) and for a control character of either range.
std::size_t printable_sequence(std::span<const std::uint8_t> text, std::size_t at) {
    const std::uint8_t lead = text[at];
    if (lead < 0x80) {
        return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        if (lead == 0xC2) {
            low = 0xA0; // U+0080 to U+009F are controls
        }
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - at < length || text[at + 1] < low || text[at + 1] > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (text[at + i] < 0x80 || text[at + i] > 0xBF) {
            return 0;
        }
    }
    return length;
}

bool printable(std::span<const std::uint8_t> text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = printable_sequence(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

const char* reason_text(receipt_reason reason) {
    switch (reason) {
    case receipt_reason::stored:
        return "the file was stored";
    case receipt_reason::receipt_off:
        return "parcel receipt is disabled for this friend";
    case receipt_reason::over_size:
        return "the file is larger than the receiver allows";
    case receipt_reason::over_count:
        return "the parcel box already holds as many files as the receiver allows";
    case receipt_reason::disk_full:
        return "the receiver's disk is full";
    case receipt_reason::name_refused:
        return "the name does not name a file";
    case receipt_reason::changed_size:
        return "the file changed size while it was being sent";
    case receipt_reason::rename_failed:
        return "the file could not be given its name";
    case receipt_reason::write_failed:
        return "the file could not be written";
    case receipt_reason::messages_off:
        return "messages are off for this sender";
    }
    return "";
}

// Refusals decided on the record alone, before any data was kept.
bool refused_on_the_record(receipt_reason reason) {
    return reason == receipt_reason::receipt_off || reason == receipt_reason::over_size ||
           reason == receipt_reason::over_count || reason == receipt_reason::name_refused ||
           reason == receipt_reason::messages_off;
}
} // namespace

parcel_receipt stored_receipt() {
    return {};
}

parcel_receipt refusal_receipt(receipt_reason reason, transfer_status status, std::string text) {
    parcel_receipt receipt;
    receipt.reason = reason;
    receipt.status = static_cast<std::uint8_t>(number_of(status));
    receipt.text = std::move(text);
    return receipt;
}

std::vector<std::uint8_t> parcel_receipt::encode() const {
    const std::span<const std::uint8_t> raw(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    std::vector<std::uint8_t> clean;
    for (std::size_t at = 0; at < raw.size();) {
        const std::size_t length = printable_sequence(raw, at);
        if (length == 0) {
            ++at;
            if (clean.size() + 1 <= max_text) {
                clean.push_back(' ');
            }
            continue;
        }
        if (clean.size() + length > max_text) {
            break;
        }
        clean.insert(clean.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                     raw.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    std::vector<std::uint8_t> bytes(header_size + clean.size());
    bytes[0] = magic[0];
    bytes[1] = magic[1];
    bytes[2] = layout_version;
    bytes[3] = stored() ? verdict_stored : verdict_refused;
    bytes[4] = stored() ? no_status : status;
    bytes[5] = static_cast<std::uint8_t>(reason);
    put_le16(bytes.data() + 6, static_cast<std::uint16_t>(clean.size()));
    std::copy(clean.begin(), clean.end(), bytes.begin() + header_size);
    return bytes;
}

receipt_parse decode_receipt(std::span<const std::uint8_t> bytes, parcel_receipt& receipt, std::size_t& used) {
    used = 0;
    field_reader in(bytes);
    // Each byte is judged as soon as it is there: a stream that can never become a receipt is refused at once.
    for (const std::uint8_t expected : {magic[0], magic[1], layout_version}) {
        std::uint8_t byte = 0;
        if (!in.u8(byte)) {
            return receipt_parse::incomplete;
        }
        if (byte != expected) {
            return receipt_parse::malformed;
        }
    }
    std::uint8_t verdict = 0;
    std::uint8_t status = 0;
    std::uint8_t reason = 0;
    std::uint16_t length = 0;
    if (!in.u8(verdict) || !in.u8(status) || !in.u8(reason) || !in.le16(length)) {
        return receipt_parse::incomplete;
    }
    const bool stored = reason == static_cast<std::uint8_t>(receipt_reason::stored);
    if (verdict > verdict_refused || reason > last_reason || stored != (verdict == verdict_stored) ||
        (stored ? status != parcel_receipt::no_status : !transfer_status_numbered(status)) ||
        length > parcel_receipt::max_text) {
        return receipt_parse::malformed;
    }
    std::span<const std::uint8_t> text;
    if (!in.take(length, text)) {
        return receipt_parse::incomplete;
    }
    if (!printable(text)) {
        return receipt_parse::malformed;
    }
    receipt.reason = static_cast<receipt_reason>(reason);
    receipt.status = status;
    receipt.text.assign(text.begin(), text.end());
    used = parcel_receipt::header_size + length;
    return receipt_parse::complete;
}

std::string receipt_words(const parcel_receipt& receipt) {
    if (receipt.stored()) {
        return reason_text(receipt.reason);
    }
    const std::string why = receipt.text.empty() ? reason_text(receipt.reason) : receipt.text;
    return (refused_on_the_record(receipt.reason) ? "the receiver refused the file: "
                                                  : "the receiver did not keep the file: ") +
           why;
}

} // namespace tiv
