#pragma once

#include <string>
#include <utility>

namespace tiv {

// The one way an operation below the program's face says how it went: success, or a code its caller can branch on
// and the reason in words for the log, a window and a test. Each layer picks its codes (CryptoAPI's for the key
// store, errno for sockets and files); the shape stays the same.
template <typename Code, Code Success> class [[nodiscard]] coded_status {
public:
    coded_status() = default;
    coded_status(Code code, std::string text) : m_nCode(code), m_strText(std::move(text)) {}

    [[nodiscard]] bool ok() const { return m_nCode == Success; }
    explicit operator bool() const { return ok(); }
    [[nodiscard]] Code code() const { return m_nCode; }
    [[nodiscard]] const std::string& text() const { return m_strText; }

private:
    Code m_nCode = Success;
    std::string m_strText;
};

// A system call's outcome: errno and what was being done ("connect to 10.0.0.2:2502: Connection refused").
using sys_status = coded_status<int, 0>;

// The failure of `what` with `error` (an errno value), worded as "what: strerror".
[[nodiscard]] sys_status sys_failure(int error, const std::string& what);

} // namespace tiv
