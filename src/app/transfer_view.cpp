#include "app/transfer_view.h"

#include "app/internal/transfer_views.h"
#include "net/transfer/transfer_state.h"

namespace tiv::app {

namespace {
// The views number states and failures as the transfers do, so a number in a line means the same in both.
constexpr bool same_number(transfer_state view, int state) {
    return static_cast<int>(view) == state;
}
constexpr bool same_number(transfer_status view, int status) {
    return static_cast<int>(view) == status;
}
static_assert(same_number(transfer_state::undefined, UNDEFINED) &&
              same_number(transfer_state::initializing, INITIALIZING) &&
              same_number(transfer_state::opening_read_file, OPENING_READ_FILE) &&
              same_number(transfer_state::creating_socket, CREATING_SOCKET) &&
              same_number(transfer_state::connecting_to_destination, CONNECTING_TO_DESTINATION) &&
              same_number(transfer_state::authenticating, AUTHENTICATING) &&
              same_number(transfer_state::sending_file_record, SENDING_FILE_RECORD) &&
              same_number(transfer_state::getting_file_record, GETTING_FILE_RECORD) &&
              same_number(transfer_state::verifying_permissions, VERIFYING_PERMISSIONS) &&
              same_number(transfer_state::opening_write_file, OPENING_WRITE_FILE) &&
              same_number(transfer_state::running, RUNNING) &&
              same_number(transfer_state::shutting_down, SHUTTING_DOWN) &&
              same_number(transfer_state::completed, COMPLETED));
static_assert(same_number(transfer_status::file_open, status_file_open) &&
              same_number(transfer_status::socket, status_socket) &&
              same_number(transfer_status::connect, status_connect) &&
              same_number(transfer_status::authentication, status_authentication) &&
              same_number(transfer_status::refused, status_refused) &&
              same_number(transfer_status::send, status_send) &&
              same_number(transfer_status::receive, status_receive) &&
              same_number(transfer_status::stopped, status_stopped) &&
              same_number(transfer_status::memory, status_memory));

transfer_state state_of(int state) {
    return state >= UNDEFINED && state <= COMPLETED ? static_cast<transfer_state>(state) : transfer_state::undefined;
}
} // namespace

const char* transfer_state_name(transfer_state state) {
    return tiv::transfer_state_name(static_cast<int>(state));
}

transfer_view view_of(const transfer_snapshot& snapshot) {
    return {
        .id = snapshot.id,
        .connection = snapshot.connection,
        .connection_ended = snapshot.connection_ended,
        .folder_name = snapshot.folder_name,
        .direction = snapshot.direction == tiv::transfer_direction::receiving ? transfer_direction::receiving
                                                                              : transfer_direction::sending,
        .friend_name = snapshot.friend_name,
        .peer_address = snapshot.peer_address,
        .file_name = snapshot.file_name,
        .stored_path = snapshot.stored_path,
        .size = snapshot.size,
        .bytes_done = snapshot.bytes_done,
        .bytes_kept = snapshot.bytes_kept,
        .resumed_from = snapshot.resumed_from,
        .state = state_of(snapshot.state),
        .finished = snapshot.finished,
        .failed = snapshot.failed,
        // The enumeration has the transfers' own underlying type, so even a number it does not name survives.
        .status = static_cast<transfer_status>(snapshot.status),
        .status_text = snapshot.status_text,
        .start_time = snapshot.start_time,
        .end_time = snapshot.end_time,
        .seconds = snapshot.seconds,
        .rate = snapshot.rate,
    };
}

std::vector<transfer_view> views_of(const std::vector<transfer_snapshot>& snapshots) {
    std::vector<transfer_view> views;
    views.reserve(snapshots.size());
    for (const transfer_snapshot& snapshot : snapshots) {
        views.push_back(view_of(snapshot));
    }
    return views;
}

} // namespace tiv::app
