#pragma once

#include <string>

namespace tiv::app {

// A dotted quad and the name its reverse lookup gives (its own dotted text when there is none).
struct reverse_name {
    std::string address;
    std::string host_name;
};

} // namespace tiv::app
