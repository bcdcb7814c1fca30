#include "crypto/auth_records.h"

#include <algorithm>

#include "core/byte_fields.h"

namespace tiv::auth {

namespace {

void put_block(std::uint8_t* at, const key_block& block) {
    put_le16(at, block.type_index);
    put_le16(at + 2, block.key_bits);
    put_le16(at + 4, block.blob_length);
    std::copy(block.blob.begin(), block.blob.end(), at + 6);
}
key_block get_block(const std::uint8_t* at) {
    key_block block;
    block.type_index = get_le16(at);
    block.key_bits = get_le16(at + 2);
    block.blob_length = get_le16(at + 4);
    std::copy(at + 6, at + key_block_size, block.blob.begin());
    return block;
}
} // namespace

cap_bytes cap_record::encode() const {
    cap_bytes bytes{};
    put_le16(bytes.data(), pass);
    put_le16(bytes.data() + 2, length);
    put_le32(bytes.data() + 4, key_types);
    std::copy(reserved.begin(), reserved.end(), bytes.begin() + 8);
    std::copy(user_uuid.begin(), user_uuid.end(), bytes.begin() + 136);
    return bytes;
}

cap_record cap_record::decode(const cap_bytes& bytes) {
    cap_record record;
    record.pass = get_le16(bytes.data());
    record.length = get_le16(bytes.data() + 2);
    record.key_types = get_le32(bytes.data() + 4);
    std::copy(bytes.begin() + 8, bytes.begin() + 136, record.reserved.begin());
    std::copy(bytes.begin() + 136, bytes.end(), record.user_uuid.begin());
    return record;
}

pass_bytes pass_record::encode() const {
    pass_bytes bytes{};
    put_le16(bytes.data(), pass);
    put_le16(bytes.data() + 2, length);
    put_block(bytes.data() + block_a_offset, a);
    put_block(bytes.data() + block_b_offset, b);
    return bytes;
}

pass_record pass_record::decode(const pass_bytes& bytes) {
    pass_record record;
    record.pass = get_le16(bytes.data());
    record.length = get_le16(bytes.data() + 2);
    record.a = get_block(bytes.data() + block_a_offset);
    record.b = get_block(bytes.data() + block_b_offset);
    return record;
}

} // namespace tiv::auth
