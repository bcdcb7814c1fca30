#pragma once

#include <cstdint>
#include <string>

namespace tiv {

// A new UUID as its 36-character lower-case text; the caller owns the result.
[[nodiscard]] std::string create_uuid_text();

// The login name of the user running the program ("user" when the system cannot tell).
[[nodiscard]] std::string login_name();

} // namespace tiv
