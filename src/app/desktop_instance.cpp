#include "app/desktop_instance.h"

#include "platform/paths.h"

namespace tiv::app {

std::string desktop_instance_socket() {
    const std::string path = paths::desktop_socket_path();
    (void)paths::make_directories(paths::parent_directory(path));
    return path;
}

} // namespace tiv::app
