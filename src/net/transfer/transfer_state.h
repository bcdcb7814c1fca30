#pragma once

#include <string>

#include "core/transfer_view.h"

namespace tiv {

// The status in words, as the side that recorded it means it.
[[nodiscard]] const char* transfer_status_text(transfer_status status, bool sending);

// Why the file at `path` could not be opened for sending, naming it and what it is: missing, a directory, a
// device, a pipe or a socket; for a regular file the error of the open (`open_error`, an errno value).
[[nodiscard]] std::string unopenable_file_words(const std::string& path, int open_error);

} // namespace tiv
