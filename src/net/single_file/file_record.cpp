#include "net/single_file/file_record.h"

#include <algorithm>
#include <cstring>

#include "core/byte_fields.h"

#include "core/text.h"

namespace tiv {

namespace {
constexpr std::size_t name_offset = 4;
constexpr std::size_t size_offset = name_offset + file_record::name_field;
} // namespace

void file_record::set_name(const std::string& name) {
    copy_text_field(file_name, name);
}

std::array<std::uint8_t, file_record::size> file_record::encode() const {
    std::array<std::uint8_t, size> bytes{};
    put_le16(bytes.data(), record_type);
    put_le16(bytes.data() + 2, record_length);
    const std::size_t length = ::strnlen(file_name, name_field - 1);
    std::memcpy(bytes.data() + name_offset, file_name, length);
    put_le32(bytes.data() + size_offset, file_size);
    return bytes;
}

file_record file_record::decode(std::span<const std::uint8_t, size> bytes) {
    file_record record;
    record.record_type = get_le16(bytes.data());
    record.record_length = get_le16(bytes.data() + 2);
    // A name that fills the whole field has no NUL of its own; its last byte gives way to one.
    const auto* name = reinterpret_cast<const char*>(bytes.data() + name_offset);
    const std::size_t length = ::strnlen(name, name_field - 1);
    std::memset(record.file_name, 0, name_field);
    std::memcpy(record.file_name, name, length);
    record.file_size = get_le32(bytes.data() + size_offset);
    return record;
}

} // namespace tiv
