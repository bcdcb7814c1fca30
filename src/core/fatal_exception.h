#pragma once

namespace tiv {

// Thrown by value when a growable array cannot get memory; only catch-all guards catch it.
struct fatal_exception {
    const char* message;
    const char* array_name;
};

} // namespace tiv
