#include "ui/support/silent_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tiv::test {

unique_fd silent_connection(const std::string& bound_address) {
    const std::size_t colon = bound_address.rfind(':');
    sockaddr_in where{};
    where.sin_family = AF_INET;
    if (colon == std::string::npos ||
        ::inet_pton(AF_INET, bound_address.substr(0, colon).c_str(), &where.sin_addr) != 1) {
        return unique_fd();
    }
    where.sin_port = htons(static_cast<std::uint16_t>(std::stoi(bound_address.substr(colon + 1))));
    unique_fd connection(::socket(AF_INET, SOCK_STREAM, 0));
    if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        return unique_fd();
    }
    return connection;
}

} // namespace tiv::test
