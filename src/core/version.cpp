#include "core/version.h"

// The build passes the project's version to this file alone, so a new version rebuilds one object.
#ifndef QUORVEL_VERSION
#error "QUORVEL_VERSION must be defined by the build from the project's version"
#endif

namespace tiv {

std::string_view program_version() {
    return QUORVEL_VERSION;
}

std::string version_text(std::string_view program_name) {
    std::string text(program_name);
    text += ' ';
    text += program_version();
    return text;
}

} // namespace tiv
