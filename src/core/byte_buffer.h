#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace tiv {

// Leaves new elements uninitialised where a plain vector would zero them.
template <typename T> class uninitialised_allocator : public std::allocator<T> {
public:
    template <typename U> struct rebind { using other = uninitialised_allocator<U>; };

    uninitialised_allocator() = default;
    template <typename U> uninitialised_allocator(const uninitialised_allocator<U>& /*other*/) noexcept {}

    template <typename U> void construct(U* at) noexcept { ::new (static_cast<void*>(at)) U; }
    template <typename U, typename... Args> void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

// Bytes that a read or a cipher fills right after the buffer grows for them. Zeroing them first would write every
// byte of a transfer once more, which on the data path costs about as much as one of its copies.
using byte_buffer = std::vector<std::uint8_t, uninitialised_allocator<std::uint8_t>>;

// Overwrites all the memory a buffer holds, to its capacity, before the buffer gives it back: buffers of a
// transfer held file contents in the clear.
template <typename Buffer> void wipe_capacity(Buffer& buffer) {
    if (buffer.capacity() == 0) {
        return; // never held anything, and has no memory to clear
    }
    buffer.resize(buffer.capacity());
    explicit_bzero(buffer.data(), buffer.size());
}

} // namespace tiv
