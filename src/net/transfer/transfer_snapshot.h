#pragma once

#include <cstdint>
#include <string>

namespace tiv {

enum class transfer_direction { sending, receiving };

// One transfer as a window or a command shows it: a plain copy, taken in one piece, that stays true to itself
// however the transfer moves on meanwhile.
struct transfer_snapshot {
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
    std::uint64_t resumed_from = 0; // a sent file that continued a part the receiver kept: where it went on
    int state = 0;                  // transfer_state
    bool finished = false;
    bool failed = false;
    int status = 0;              // transfer_status, meaningful when failed
    std::string status_text;     // the status in words, as the side that recorded it means it
    std::int64_t start_time = 0; // calendar seconds, 0 until started
    std::int64_t end_time = 0;   // calendar seconds, 0 until finished
    double seconds = 0.0;        // running time so far, or the whole time once finished
    double rate = 0.0;           // bytes per second over `seconds`
};

} // namespace tiv
