#include "platform/uuid.h"

#include <uuid/uuid.h>

namespace tiv {

uuid_value make_uuid() {
    uuid_value id;
    ::uuid_generate_random(id.bytes.data());
    return id;
}

std::string uuid_to_text(const uuid_value& id) {
    char text[37];
    ::uuid_unparse_lower(id.bytes.data(), text);
    return std::string(text, 36);
}

std::optional<uuid_value> uuid_from_text(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    char copy[37];
    text.copy(copy, 36);
    copy[36] = '\0';
    uuid_value id;
    if (::uuid_parse(copy, id.bytes.data()) != 0) {
        return std::nullopt;
    }
    return id;
}

std::array<std::uint8_t, 16> uuid_to_guid_bytes(const uuid_value& id) {
    const auto& b = id.bytes;
    return {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]};
}

uuid_value uuid_from_guid_bytes(const std::uint8_t* g) {
    uuid_value id;
    id.bytes = {g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]};
    return id;
}

} // namespace tiv
