#pragma once

#include "app/internal/only.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "app/transfer_view.h"

namespace tiv::app {

// One stored value of the user's parcel history: the rows that ended about one moment, in the order they ended.
// Bytes, little-endian: a format byte (1), then per row
//   direction u8 (0 sent, 1 received), failed u8, state u8, status u8,
//   size, bytes done, bytes kept, resumed from: each u64; end time: i64 calendar seconds;
//   friend, file name, stored path, folder, status words, peer address: each a u32 length and that many bytes.
// A row read back is a finished transfer of a connection that has ended, so it reads as the row did when it ended.
[[nodiscard]] std::vector<std::uint8_t> encode_history_record(std::span<const transfer_view> rows);

// None for anything but whole rows in that format: a short field, an unknown format, direction, state or status,
// a text longer than a row's text may be, or bytes left over. A damaged value then costs its own rows only.
[[nodiscard]] std::optional<std::vector<transfer_view>> decode_history_record(std::span<const std::uint8_t> bytes);

// Longest text a row keeps: paths and reasons are far shorter.
inline constexpr std::uint32_t history_text_limit = 16 * 1024;

} // namespace tiv::app
