#pragma once

#include <string>

namespace tiv {

// Where a transfer is; a failed one stays in the state in which it failed.
enum transfer_state : int {
    UNDEFINED = 0,
    INITIALIZING = 1,
    OPENING_READ_FILE = 2,
    CREATING_SOCKET = 3,
    CONNECTING_TO_DESTINATION = 4,
    AUTHENTICATING = 5,
    SENDING_FILE_RECORD = 6,
    GETTING_FILE_RECORD = 7,
    VERIFYING_PERMISSIONS = 8,
    OPENING_WRITE_FILE = 9,
    RUNNING = 10,
    SHUTTING_DOWN = 11,
    COMPLETED = 12,
};

// Why a transfer failed (meaningful when `failed` is 1). The sender and the receiver read some codes differently.
enum transfer_status : int {
    status_file_open = 0,      // sender: the file cannot be read; receiver: the temporary file cannot be made
    status_socket = 1,         // sender: no socket
    status_connect = 2,        // sender: no connection
    status_authentication = 3, // both
    status_refused = 4,        // receiver: the parcel was refused; sender: the receiver's receipt refused it
    status_send = 5,           // sender: a send failed, or the receiver did not confirm the whole file
    status_receive = 6,        // receiver: the data did not arrive whole
    status_stopped = 7,        // both: stopped (sender: or the file could not be read to its end)
    status_memory = 8,         // both: no data buffer
};

// "UNDEFINED" .. "COMPLETED"; "UNDEFINED" for a value outside the table.
[[nodiscard]] const char* transfer_state_name(int state);

// The status in words, as the side that recorded it means it.
[[nodiscard]] const char* transfer_status_text(int status, bool sending);

// Why the file at `path` could not be opened for sending, naming it and what it is: missing, a directory, a
// device, a pipe or a socket; for a regular file the error of the open (`open_error`, an errno value).
[[nodiscard]] std::string unopenable_file_words(const std::string& path, int open_error);

} // namespace tiv
