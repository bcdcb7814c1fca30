#include "net/transfer/transfer_state.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tiv {

const char* transfer_state_name(int state) {
    static const char* const names[] = {
        "UNDEFINED",
        "INITIALIZING",
        "OPENING_READ_FILE",
        "CREATING_SOCKET",
        "CONNECTING_TO_DESTINATION",
        "AUTHENTICATING",
        "SENDING_FILE_RECORD",
        "GETTING_FILE_RECORD",
        "VERIFYING_PERMISSIONS",
        "OPENING_WRITE_FILE",
        "RUNNING",
        "SHUTTING_DOWN",
        "COMPLETED",
    };
    return state >= 0 && state <= COMPLETED ? names[state] : names[UNDEFINED];
}

const char* transfer_status_text(int status, bool sending) {
    switch (status) {
    case status_file_open:
        return sending ? "the file cannot be opened for reading" : "the temporary file cannot be created";
    case status_socket:
        return "the socket cannot be created";
    case status_connect:
        return "the connection to the destination failed";
    case status_authentication:
        return "the authentication failed";
    case status_refused:
        return "the receiver refused the file";
    case status_send:
        return sending ? "the connection failed before the receiver confirmed the whole file" : "a send failed";
    case status_receive:
        return "the file did not arrive whole";
    case status_stopped:
        return sending ? "the file was not read to its end" : "the transfer was stopped";
    case status_memory:
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
