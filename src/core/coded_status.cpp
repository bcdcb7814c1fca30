#include "core/coded_status.h"

#include <cstring>

namespace tiv {

sys_status sys_failure(int error, std::string_view what) {
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return sys_status(error, std::string(what) + ": " + text);
}

} // namespace tiv
