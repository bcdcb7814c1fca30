#pragma once

#include <cstddef>
#include <string>

#include "crypto/authentycryptor.h"
#include "net/single_file/file_record.h"
#include "net/stream/stream_sending.h"

namespace tiv {

class socket_thread;

// The steps of a sending body, shared by a file sent over a connection of its own and one sent over its send's
// shared connection. Each step that fails ends the transfer failed, with its reason, and says so (false).

// Opens the record's file for reading; the record then carries its size.
[[nodiscard]] bool open_source(socket_thread& transfer, file_record& record);
// Creates the transfer's socket, connects and authenticates.
[[nodiscard]] bool connect_and_authenticate(socket_thread& transfer);
// Sends the open file over the transfer's authenticated connection (as the one file of a parcel stream when both
// ends announced it), ends the connection and the transfer.
void send_after_authentication(socket_thread& transfer, file_record& record);
// A connection that ended before the receiver confirmed the exchange, which the sender does not wait for before it
// sends: the receiver refused it, and why the file was not sent is that, whatever broke after.
[[nodiscard]] std::string refused_exchange_words(const socket_thread& transfer);
// `outcome`, or that refusal when it failed before `cipher` heard the receiver's confirmation.
[[nodiscard]] transfer_outcome as_refused_exchange(const socket_thread& transfer, const authentycryptor& cipher,
                                                   transfer_outcome outcome);
// Fails the transfer where it stands: the file closed, the connection reset.
void fail_early(socket_thread& transfer, transfer_status status, std::string words = {});

// How much of the file goes out in one piece.
[[nodiscard]] std::size_t sending_chunk(const socket_thread& transfer);
// The file's path in the parcel stream: relative to the folder sent, or its last name.
[[nodiscard]] std::string stream_path_of(const socket_thread& transfer, const file_record& record);
// Ends the transfer with the outcome of its file in the stream.
void finish_stream_file(socket_thread& transfer, const stream_item_outcome& outcome);

} // namespace tiv
