// The file record a receiver reads ahead of the parcel's data: whatever the 264 bytes hold, the decoded name ends
// with a NUL inside its field, and re-encoding keeps every byte up to the name's end and the size.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "net/single_file/file_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tiv::file_record;
    std::array<std::uint8_t, file_record::size> bytes{};
    std::copy_n(data, std::min(size, bytes.size()), bytes.begin());
    const file_record record = file_record::decode(bytes);

    const std::size_t length = ::strnlen(record.file_name, file_record::name_field);
    FUZZ_CHECK(length < file_record::name_field);
    const auto* wire_name = reinterpret_cast<const char*>(bytes.data() + 4);
    FUZZ_CHECK(length == ::strnlen(wire_name, file_record::name_field - 1));
    FUZZ_CHECK(std::memcmp(record.file_name, wire_name, length) == 0);

    const std::array<std::uint8_t, file_record::size> again = record.encode();
    FUZZ_CHECK(std::equal(again.begin(), again.begin() + 4 + static_cast<std::ptrdiff_t>(length), bytes.begin()));
    FUZZ_CHECK(std::equal(again.end() - 4, again.end(), bytes.end() - 4));
    const file_record twice = file_record::decode(again);
    FUZZ_CHECK(twice.record_type == record.record_type && twice.record_length == record.record_length);
    FUZZ_CHECK(twice.file_size == record.file_size && std::strcmp(twice.file_name, record.file_name) == 0);
    return 0;
}
