#include "app/friends/friend_ping.h"

#include <cstring>

#include "presence/ping_job.h"

namespace tiv::app {

namespace {
constexpr std::chrono::milliseconds report_period{100};

friend_ping_state state_of(PING_STATUS status, bool done) {
    switch (status) {
    case PING_STATUS::replied:
        return friend_ping_state::ok;
    case PING_STATUS::waiting:
        return done ? friend_ping_state::timeout : friend_ping_state::pending;
    default:
        return friend_ping_state::error;
    }
}
} // namespace

const char* friend_ping_text(friend_ping_state state) {
    switch (state) {
    case friend_ping_state::unknown:
        return "unknown";
    case friend_ping_state::pending:
        return "PENDING";
    case friend_ping_state::ok:
        return "OK";
    case friend_ping_state::timeout:
        return "TIMEOUT";
    case friend_ping_state::error:
        break;
    }
    return "<error>";
}

void ping_friend_addresses(const std::vector<std::string>& addresses, const ping_progress_sink& report,
                           const std::atomic<bool>& stop) {
    friend_ping_progress progress;
    progress.states.assign(addresses.size(), friend_ping_state::pending);
    // A job takes only resolved records, so a name that does not resolve stays out of it and is an error at once.
    std::vector<ping_record> records;
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; row < addresses.size(); ++row) {
        if (stop.load()) {
            return;
        }
        ping_record record;
        record.identifier = ping_identifier_for_row(row);
        if (resolve_address(addresses[row].c_str(), 0, record.destination)) {
            records.push_back(record);
            rows.push_back(row);
        } else {
            progress.states[row] = friend_ping_state::error;
        }
    }
    if (records.empty()) {
        progress.done = true;
        report(progress);
        return;
    }
    const auto job = start_ping_job(records);
    if (job == nullptr) {
        progress.problem = "The ping could not be started.";
        progress.states.assign(addresses.size(), friend_ping_state::error);
        progress.done = true;
        report(progress);
        return;
    }
    if (job->socket_kind() == icmp_socket_kind::none) {
        progress.problem = std::string("No ICMP socket can be opened: ") +
                           std::strerror(job->socket_open_status().code()) +
                           ". Pinging needs CAP_NET_RAW or a group in net.ipv4.ping_group_range.";
    }
    // Reading the job's snapshot on a short period keeps the window's column moving while the sweeps wait.
    for (;;) {
        const bool done = job->wait_until_done(report_period);
        if (stop.load()) {
            return;
        }
        const std::vector<ping_record> now = job->records();
        for (std::size_t i = 0; i < now.size() && i < rows.size(); ++i) {
            progress.states[rows[i]] = state_of(now[i].result.status, done);
        }
        progress.done = done;
        report(progress);
        if (done) {
            return;
        }
    }
}

} // namespace tiv::app
