#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What a transfer row says, in the words the engine writes it and the windows and commands read it.

namespace tiv {

enum class transfer_direction { sending, receiving };

// Where a transfer is; a failed one stays in the state in which it failed. Numbered as the activity log and the
// command line's lines number them.
enum class transfer_state : int {
    undefined = 0,
    initializing = 1,
    opening_read_file = 2,
    creating_socket = 3,
    connecting_to_destination = 4,
    authenticating = 5,
    sending_file_record = 6,
    getting_file_record = 7,
    verifying_permissions = 8,
    opening_write_file = 9,
    running = 10,
    shutting_down = 11,
    completed = 12,
};

// Why a transfer failed. The sender and the receiver read some of them differently (the status text says how);
// numbered as a receipt carries them and as the log and the command line's failure lines show them.
enum class transfer_status : int {
    file_open = 0,      // sender: the file cannot be read; receiver: the temporary file cannot be made
    socket = 1,         // sender: no socket
    connect = 2,        // sender: no connection
    authentication = 3, // both
    refused = 4,        // receiver: the parcel was refused; sender: the receiver's receipt refused it
    send = 5,           // sender: a send failed, or the receiver did not confirm the whole file
    receive = 6,        // receiver: the data did not arrive whole
    stopped = 7,        // both: stopped (sender: or the file could not be read to its end)
    memory = 8,         // both: no data buffer
};

// One transfer as a window or a command shows it: a plain copy, taken in one piece, that stays true to itself
// however the transfer moves on meanwhile.
struct transfer_view {
    std::uint64_t id = 0; // unique in the process, never reused
    // The connection it came over, shared by every file of one send (a stream, a folder); `connection_ended` once
    // that connection is over and every one of its rows final.
    std::uint64_t connection = 0;
    bool connection_ended = false;
    std::string folder_name; // the folder it came in, when it came in one
    transfer_direction direction = transfer_direction::sending;
    std::string friend_name;  // empty until the receiver knows who sends
    std::string peer_address; // "127.0.0.1:40312": the other end's address and port; empty until known
    std::string file_name;    // as the record names it
    std::string stored_path;  // a received file's final path once it is stored
    std::uint64_t size = 0;   // the whole file's size, once known
    std::uint64_t bytes_done = 0;
    std::uint64_t bytes_kept = 0;   // a failed receive: what stays on disk for the next send to continue (else 0)
    std::uint64_t resumed_from = 0; // a file that went on from a part the receiver kept: where it went on
    transfer_state state = transfer_state::undefined;
    bool finished = false;
    bool failed = false;
    transfer_status status = transfer_status::file_open; // meaningful when failed
    std::string status_text;                             // the status in words, as the side that recorded it means it
    std::int64_t start_time = 0;                         // calendar seconds, 0 until started
    std::int64_t end_time = 0;                           // calendar seconds, 0 until finished
    double seconds = 0.0;                                // running time so far, or the whole time once finished
    double rate = 0.0;                                   // bytes per second over `seconds`
};

// The number a state or a status is written as wherever it leaves the program: a log line, a receipt's byte, a
// command's output.
[[nodiscard]] constexpr int number_of(transfer_state state) {
    return static_cast<int>(state);
}
[[nodiscard]] constexpr int number_of(transfer_status status) {
    return static_cast<int>(status);
}

// The status a number names, as a receipt's byte carries it; none for a number outside the table.
[[nodiscard]] std::optional<transfer_status> transfer_status_numbered(int number);

// "UNDEFINED" .. "COMPLETED", as the activity log names the states; "UNDEFINED" for a value outside the table.
[[nodiscard]] const char* transfer_state_name(transfer_state state);

} // namespace tiv
