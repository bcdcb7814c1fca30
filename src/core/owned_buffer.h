#pragma once

#include <cstdint>

namespace tiv {

// A byte buffer that owns its memory. Texts are kept with their NUL counted in `size`.
// Exhausted memory is reported by throwing one of two constant texts; only catch-all guards catch them.
class owned_buffer {
public:
    owned_buffer() = default;
    explicit owned_buffer(const char* text);
    owned_buffer(const owned_buffer& other);
    owned_buffer& operator=(const owned_buffer& other);
    owned_buffer(owned_buffer&& other) noexcept;
    owned_buffer& operator=(owned_buffer&& other) noexcept;
    ~owned_buffer();

    // Frees what is owned and allocates n uninitialised bytes.
    void Allocate(std::int32_t n);
    // Frees and clears both fields.
    void Delete();
    // Grow-only copy: a larger buffer is reused and keeps its size; n == 0 stores an empty text.
    void Assign(const void* source, std::int32_t n);
    // Appends a text; n is the text's length plus its NUL.
    void Append(const char* text, std::int32_t n);

    // Convenience for texts: assigns the text with its NUL (a null text counts as empty).
    void assign_text(const char* text);

    [[nodiscard]] const char* text() const { return data != nullptr ? reinterpret_cast<const char*>(data) : ""; }
    [[nodiscard]] bool empty() const { return data == nullptr; }

    std::uint8_t* data = nullptr;
    std::int32_t size = 0;

private:
    void check_state() const;
};

} // namespace tiv
