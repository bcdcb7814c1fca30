#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>

#include "core/fatal_exception.h"

namespace tiv {

// A growable array of fixed-size elements with exactly the capacity asked for. Plain mode constructs
// each element; aligned mode keeps trivially copyable elements in one 16-byte aligned block (others stay plain).
template <typename T> class myarray {
public:
    enum class mode : std::uint8_t { plain = 0, aligned = 1 };

    explicit myarray(bool keep_contents = true, mode allocation = mode::plain)
        : m_bKeepContents(keep_contents), m_nMode(std::is_trivially_copyable_v<T> ? allocation : mode::plain) {}
    myarray(const myarray&) = delete;
    myarray& operator=(const myarray&) = delete;
    ~myarray() { clear(); }

    void resize(std::size_t n) {
        if (n == 0) {
            clear();
            return;
        }
        T* fresh = nullptr;
        if constexpr (std::is_trivially_copyable_v<T>) {
            fresh = m_nMode == mode::aligned ? allocate_aligned(n) : allocate_plain(n);
        } else {
            fresh = allocate_plain(n);
        }
        if (m_bKeepContents && m_pElements != nullptr) {
            std::copy_n(m_pElements, std::min(n, m_nCount), fresh);
        }
        release();
        m_pElements = fresh;
        m_nCount = n;
    }

    void clear() {
        release();
        m_pElements = nullptr;
        m_nCount = 0;
    }

    [[nodiscard]] std::size_t size() const { return m_nCount; }
    T& operator[](std::size_t i) { return m_pElements[i]; }
    const T& operator[](std::size_t i) const { return m_pElements[i]; }
    T* begin() { return m_pElements; }
    T* end() { return m_pElements + m_nCount; }
    const T* begin() const { return m_pElements; }
    const T* end() const { return m_pElements + m_nCount; }

    static constexpr const char* name = "myarray<contained_type>";
    static constexpr std::size_t alignment = 16;

private:
    T* allocate_plain(std::size_t n) {
        // A byte size beyond 32 bits is refused as exhausted memory rather than wrapped.
        if (n > std::numeric_limits<std::uint32_t>::max() / sizeof(T)) {
            throw fatal_exception{"Memory resize failure!", name};
        }
        T* block = new (std::nothrow) T[n]();
        if (block == nullptr) {
            throw fatal_exception{"Memory resize failure!", name};
        }
        return block;
    }

    T* allocate_aligned(std::size_t n) {
        if (n > (std::numeric_limits<std::uint32_t>::max() - alignment) / sizeof(T)) {
            throw fatal_exception{"Fast memory resize failure!", name};
        }
        void* block = ::operator new (n * sizeof(T), std::align_val_t{alignment}, std::nothrow);
        if (block == nullptr) {
            throw fatal_exception{"Fast memory resize failure!", name};
        }
        return static_cast<T*>(block);
    }

    void release() {
        if (m_pElements == nullptr) {
            return;
        }
        if (m_nMode == mode::aligned) {
            ::operator delete (m_pElements, std::align_val_t{alignment});
        } else {
            delete[] m_pElements;
        }
    }

    bool m_bKeepContents;
    mode m_nMode;
    std::size_t m_nCount = 0;
    T* m_pElements = nullptr;
};

} // namespace tiv
