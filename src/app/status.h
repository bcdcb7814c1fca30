#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tiv::app {

// What kind of failure a status reports; a window picks its icon by it, a test checks the reason by it.
enum class status_code {
    ok,
    no_identity,      // set-up has not given this user a UUID yet
    not_found,        // a friend, a file or a value that does not exist
    invalid,          // input that the program could never use
    conflict,         // clashes with something already stored
    keys_unavailable, // the key container or a key pair cannot be used
    unreachable,      // an address that cannot be resolved or connected to
    in_use,           // an address and port another listener holds
    io_failure,       // a file or the settings store refused to be written or read
};

// The outcome of one operation: ok, or a code and a whole sentence (its full stop included) that a window or a
// command shows as it stands.
class [[nodiscard]] status {
public:
    status() = default;
    status(status_code code, std::string text) : m_nCode(code), m_strText(std::move(text)) {}

    [[nodiscard]] bool ok() const { return m_nCode == status_code::ok; }
    explicit operator bool() const { return ok(); }
    [[nodiscard]] status_code code() const { return m_nCode; }
    [[nodiscard]] const std::string& text() const { return m_strText; }

private:
    status_code m_nCode = status_code::ok;
    std::string m_strText;
};

// A value, or the status that says why there is none.
template <typename T> class [[nodiscard]] result {
public:
    result(T value) : m_oValue(std::move(value)) {}
    // `failure` must not be ok: a result holds a value or the reason there is none.
    result(status failure) : m_oValue(std::move(failure)) {}

    [[nodiscard]] bool ok() const { return std::holds_alternative<T>(m_oValue); }
    explicit operator bool() const { return ok(); }
    // The failure; an ok status when there is a value.
    [[nodiscard]] status error() const { return ok() ? status() : std::get<status>(m_oValue); }
    [[nodiscard]] T& value() { return std::get<T>(m_oValue); }
    [[nodiscard]] const T& value() const { return std::get<T>(m_oValue); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }

private:
    std::variant<T, status> m_oValue;
};

} // namespace tiv::app
