#include "app/endpoint_words.h"

#include <charconv>

namespace tiv::app {

std::optional<endpoint> parse_endpoint(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return std::nullopt;
    }
    std::string host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') {
            return std::nullopt;
        }
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return std::nullopt; // "::1:20000" could be an address alone or one with a port
    }
    const std::string digits = text.substr(colon + 1);
    std::uint32_t port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535) {
        return std::nullopt;
    }
    return endpoint{std::move(host), port};
}

} // namespace tiv::app
