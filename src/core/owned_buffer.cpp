#include "core/owned_buffer.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace tiv {

namespace {
const char* const bad_state_text = "Bad state in Delete()";
const char* const allocation_failure_text = "Unable to allocate memory in Allocate()";

std::uint8_t* allocate_bytes(std::int32_t n) {
    if (n < 0) {
        throw allocation_failure_text;
    }
    // malloc(0) may return null; one byte keeps "both set or both clear" true for empty blocks.
    auto* block = static_cast<std::uint8_t*>(std::malloc(n > 0 ? static_cast<std::size_t>(n) : 1U));
    if (block == nullptr) {
        throw allocation_failure_text;
    }
    return block;
}
} // namespace

owned_buffer::owned_buffer(const char* text) {
    assign_text(text);
}

owned_buffer::owned_buffer(const owned_buffer& other) {
    if (other.data != nullptr) {
        Assign(other.data, other.size);
    }
}

owned_buffer& owned_buffer::operator=(const owned_buffer& other) {
    if (this != &other) {
        if (other.data == nullptr) {
            Delete();
        } else {
            Assign(other.data, other.size);
        }
    }
    return *this;
}

owned_buffer::owned_buffer(owned_buffer&& other) noexcept
    : data(std::exchange(other.data, nullptr)), size(std::exchange(other.size, 0)) {}

owned_buffer& owned_buffer::operator=(owned_buffer&& other) noexcept {
    if (this != &other) {
        std::free(data);
        data = std::exchange(other.data, nullptr);
        size = std::exchange(other.size, 0);
    }
    return *this;
}

owned_buffer::~owned_buffer() {
    std::free(data);
}

void owned_buffer::check_state() const {
    if ((data == nullptr) != (size == 0)) {
        throw bad_state_text;
    }
}

void owned_buffer::Allocate(std::int32_t n) {
    Delete();
    data = allocate_bytes(n);
    size = n;
}

void owned_buffer::Delete() {
    check_state();
    std::free(data);
    data = nullptr;
    size = 0;
}

void owned_buffer::Assign(const void* source, std::int32_t n) {
    if (n <= 0 || source == nullptr) {
        if (data == nullptr || size < 1) {
            Allocate(1);
        }
        data[0] = 0;
        return;
    }
    if (data == nullptr || size < n) {
        Allocate(n);
    }
    std::memcpy(data, source, static_cast<std::size_t>(n));
}

void owned_buffer::Append(const char* text, std::int32_t n) {
    if (text == nullptr || n < 1) {
        return;
    }
    const std::size_t old_length = data != nullptr ? std::strlen(reinterpret_cast<const char*>(data)) : 0;
    const std::int64_t total = static_cast<std::int64_t>(old_length) + n;
    if (total > INT32_MAX) {
        throw allocation_failure_text;
    }
    std::uint8_t* block = allocate_bytes(static_cast<std::int32_t>(total));
    if (old_length > 0) {
        std::memcpy(block, data, old_length);
    }
    std::memcpy(block + old_length, text, static_cast<std::size_t>(n - 1));
    block[total - 1] = 0;
    std::free(data);
    data = block;
    size = static_cast<std::int32_t>(total);
}

void owned_buffer::assign_text(const char* text) {
    if (text == nullptr) {
        Assign(nullptr, 0);
        return;
    }
    const std::size_t length = std::strlen(text);
    if (length >= static_cast<std::size_t>(INT32_MAX)) {
        throw allocation_failure_text;
    }
    Assign(text, static_cast<std::int32_t>(length + 1));
}

} // namespace tiv
