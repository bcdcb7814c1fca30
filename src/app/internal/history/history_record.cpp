#include "app/internal/history/history_record.h"

#include <array>
#include <string>

#include "core/byte_fields.h"

namespace tiv::app {

namespace {
constexpr std::uint8_t record_format = 1;

void put_text(std::vector<std::uint8_t>& out, const std::string& text) {
    const std::size_t kept = std::min<std::size_t>(text.size(), history_text_limit);
    append_le32(out, static_cast<std::uint32_t>(kept));
    append_bytes(out, {reinterpret_cast<const std::uint8_t*>(text.data()), kept});
}

bool take_text(field_reader& in, std::string& text) {
    std::uint32_t length = 0;
    std::span<const std::uint8_t> bytes;
    if (!in.le32(length) || length > history_text_limit || !in.take(length, bytes)) {
        return false;
    }
    text.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
}

bool take_row(field_reader& in, transfer_view& row) {
    std::uint8_t direction = 0;
    std::uint8_t failed = 0;
    std::uint8_t state = 0;
    std::uint8_t status = 0;
    std::uint64_t end_time = 0;
    if (!in.u8(direction) || !in.u8(failed) || !in.u8(state) || !in.u8(status) || !in.le64(row.size) ||
        !in.le64(row.bytes_done) || !in.le64(row.bytes_kept) || !in.le64(row.resumed_from) || !in.le64(end_time)) {
        return false;
    }
    const std::optional<transfer_status> named = transfer_status_numbered(status);
    if (direction > 1 || failed > 1 || state > number_of(transfer_state::completed) || !named) {
        return false;
    }
    row.direction = direction == 0 ? transfer_direction::sending : transfer_direction::receiving;
    row.failed = failed == 1;
    row.state = static_cast<transfer_state>(state);
    row.status = *named;
    row.end_time = static_cast<std::int64_t>(end_time);
    row.finished = true;
    row.connection_ended = true;
    for (std::string* text : std::array{&row.friend_name, &row.file_name, &row.stored_path, &row.folder_name,
                                        &row.status_text, &row.peer_address}) {
        if (!take_text(in, *text)) {
            return false;
        }
    }
    return true;
}
} // namespace

std::vector<std::uint8_t> encode_history_record(std::span<const transfer_view> rows) {
    std::vector<std::uint8_t> out{record_format};
    for (const transfer_view& row : rows) {
        out.push_back(row.direction == transfer_direction::sending ? 0 : 1);
        out.push_back(row.failed ? 1 : 0);
        out.push_back(static_cast<std::uint8_t>(number_of(row.state)));
        out.push_back(static_cast<std::uint8_t>(number_of(row.status)));
        for (const std::uint64_t number :
             {row.size, row.bytes_done, row.bytes_kept, row.resumed_from, static_cast<std::uint64_t>(row.end_time)}) {
            append_le64(out, number);
        }
        for (const std::string* text : {&row.friend_name, &row.file_name, &row.stored_path, &row.folder_name,
                                        &row.status_text, &row.peer_address}) {
            put_text(out, *text);
        }
    }
    return out;
}

std::optional<std::vector<transfer_view>> decode_history_record(std::span<const std::uint8_t> bytes) {
    field_reader in(bytes);
    std::uint8_t format = 0;
    if (!in.u8(format) || format != record_format) {
        return std::nullopt;
    }
    std::vector<transfer_view> rows;
    while (in.remaining() > 0) {
        transfer_view row;
        if (!take_row(in, row)) {
            return std::nullopt;
        }
        rows.push_back(std::move(row));
    }
    return in.at_end() ? std::optional(std::move(rows)) : std::nullopt;
}

} // namespace tiv::app
