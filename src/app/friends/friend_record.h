#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tiv::app {

// A friend's size or count limit that limits nothing.
inline constexpr std::uint32_t unlimited = 0xFFFFFFFFU;

// The longest texts a stored friend keeps; what is longer is cut to fit when it is set or stored.
struct friend_text_limits {
    std::size_t name;
    std::size_t uuid;
    std::size_t address;
    std::size_t parcel_box;
};
inline constexpr friend_text_limits friend_limits{.name = 63, .uuid = 63, .address = 31, .parcel_box = 63};

// One friend as the program stores them: who they are, where they are reached, their keys, and what they may send.
struct friend_record {
    std::string name;
    std::string uuid;
    std::string address; // a host name, dotted IPv4 or IPv6 address; empty for a friend who only sends
    std::int32_t port = 0;

    // What the friend may send: whether their parcels are taken at all, the largest file and the most entries their
    // parcel box may hold (`unlimited` for no limit), the session key types allowed (a mask) and the parcel box, a
    // directory below the parcel box root.
    bool receipt_enabled = false;
    // Whether the friend's messages are shown; none where the user never said, and then they are when parcels are.
    std::optional<bool> messages;
    std::uint32_t max_file_size = 0;
    std::uint32_t max_file_count = 0;
    std::uint32_t key_types = 0;
    std::string parcel_box;

    // The exchange key's data as stored, with the byte and bit counts stored beside them (a damaged profile's counts
    // disagree with the data), and the signature key, empty for a friend known only by the old exchange. A form
    // changes them through the key text (friend_form.h), never byte by byte.
    std::vector<std::uint8_t> key;
    std::int32_t key_bytes = 0;
    std::int32_t key_bits = 0;
    std::vector<std::uint8_t> signature_key;

    // A pinned friend is only ever authenticated by the TLS exchange, in both directions.
    [[nodiscard]] bool pinned() const { return !signature_key.empty(); }
    [[nodiscard]] bool accepts_messages() const { return messages.value_or(receipt_enabled); }
};

} // namespace tiv::app
