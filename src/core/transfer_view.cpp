#include "core/transfer_view.h"

namespace tiv {

std::optional<transfer_status> transfer_status_numbered(int number) {
    if (number < number_of(transfer_status::file_open) || number > number_of(transfer_status::memory)) {
        return std::nullopt;
    }
    return static_cast<transfer_status>(number);
}

const char* transfer_state_name(transfer_state state) {
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
    const int number = number_of(state);
    return number >= 0 && number <= number_of(transfer_state::completed) ? names[number] : names[0];
}

} // namespace tiv
