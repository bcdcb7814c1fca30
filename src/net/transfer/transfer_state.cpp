#include "net/transfer/transfer_state.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tiv {

const char* transfer_status_text(transfer_status status, bool sending) {
    switch (status) {
    case transfer_status::file_open:
        return sending ? "the file cannot be opened for reading" : "the temporary file cannot be created";
    case transfer_status::socket:
        return "the socket cannot be created";
    case transfer_status::connect:
        return "the connection to the destination failed";
    case transfer_status::authentication:
        return "the authentication failed";
    case transfer_status::refused:
        return "the receiver refused the file";
    case transfer_status::send:
        return sending ? "the connection failed before the receiver confirmed the whole file" : "a send failed";
    case transfer_status::receive:
        return "the file did not arrive whole";
    case transfer_status::stopped:
        return sending ? "the file was not read to its end" : "the transfer was stopped";
    case transfer_status::memory:
        return "the data buffer cannot be allocated";
    default:
        return "unknown status";
    }
}

std::string unopenable_file_words(const std::string& path, int open_error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? path + " does not exist" : path + " cannot be read: " + std::strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return path + " is a directory; only files can be sent";
    }
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        return path + " is a device; only files can be sent";
    }
    if (S_ISFIFO(info.st_mode)) {
        return path + " is a pipe; only files can be sent";
    }
    if (S_ISSOCK(info.st_mode)) {
        return path + " is a socket; only files can be sent";
    }
    return path + " cannot be read" + (open_error != 0 ? std::string(": ") + std::strerror(open_error) : std::string());
}

} // namespace tiv
