#pragma once

#include <optional>
#include <string>
#include <string_view>
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

// A system call's outcome: errno and what was being done ("cannot connect to 10.0.0.2:2502: Connection refused").
using sys_status = coded_status<int, 0>;

// The failure of `what` with `error` (an errno value), worded as "what: strerror". A literal `what` costs no
// allocation that could touch errno before an `errno` argument is read; a built one must follow a saved errno.
[[nodiscard]] sys_status sys_failure(int error, std::string_view what);

// What an operation that yields something hands back: the thing, or the failed status that says why there is none.
// value() of a failure throws std::bad_optional_access rather than hand out nothing.
template <typename T, typename Status> class [[nodiscard]] status_or {
public:
    status_or(T value) : m_oValue(std::move(value)) {}
    // `failure` must not be ok(): a success always carries its value.
    status_or(Status failure) : m_oStatus(std::move(failure)) {}

    [[nodiscard]] bool ok() const { return m_oValue.has_value(); }
    explicit operator bool() const { return ok(); }
    [[nodiscard]] T& value() { return m_oValue.value(); }
    [[nodiscard]] const T& value() const { return m_oValue.value(); }
    [[nodiscard]] const Status& status() const { return m_oStatus; }

private:
    std::optional<T> m_oValue;
    Status m_oStatus;
};

} // namespace tiv
