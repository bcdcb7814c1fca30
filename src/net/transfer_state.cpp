#include "net/transfer_state.h"

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

} // namespace tiv
