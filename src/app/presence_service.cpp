#include "app/presence_service.h"

#include <cstring>

#include "app/internal/destination_check.h"
#include "app/internal/ping_outcome.h"
#include "app/internal/program_parts.h"
#include "core/outside_text.h"
#include "platform/adapters.h"
#include "presence/icmp_message.h"
#include "presence/ping.h"
#include "presence/ping_job.h"
#include "settings/friend_profile.h"

namespace tiv::app {

namespace {
std::string status_words(PING_STATUS status) {
    return std::string(ping_status_text(status)) + " (status " + std::to_string(static_cast<int>(status)) + ")";
}

// The ICMP type of the answer, the first byte of the message as received.
std::uint8_t reply_type(const ping_result& result) {
    std::uint8_t bytes[sizeof result.icmp_word1] = {};
    std::memcpy(bytes, &result.icmp_word1, sizeof bytes);
    return bytes[0];
}
} // namespace

ping_reply ping_address(const std::string& address) {
    net_address destination;
    if (!resolve_address(address.c_str(), 0, destination)) {
        ping_reply unresolved;
        unresolved.outcome = {status_code::unreachable, "cannot resolve '" + escaped_text(address) + "'."};
        return unresolved;
    }
    if (std::optional<status> refused = missing_zone(escaped_text(address), destination)) {
        ping_reply unreachable;
        unreachable.outcome = std::move(*refused);
        return unreachable;
    }
    ping_socket socket;
    ping_reply reply = ping_outcome(ping_once(socket, destination));
    if (!socket.valid()) {
        reply.no_socket = true;
        reply.socket_error = socket.open_status().code();
    }
    return reply;
}

ping_reply ping_outcome(const ping_result& result) {
    ping_reply reply;
    if (result.status != PING_STATUS::replied) {
        reply.outcome = {status_code::unreachable, "Ping failed! " + status_words(result.status) + "."};
    } else if (reply_type(result) == icmp_numbers_of(result.over_ipv6).time_exceeded) {
        // A router that dropped the request answers for it; the host itself was never reached.
        reply.outcome = {status_code::unreachable, "Ping failed! time-to-live exceeded."};
    } else {
        reply.round_trip = result.round_trip;
    }
    return reply;
}

result<friends_ping> ping_friends(program& p) {
    qvl_settings_data& settings = settings_of(p);
    if (!settings.profile_list_key()) {
        return status(status_code::io_failure,
                      "cannot open the friend profiles at " + reg::hive_location(reg::root::user) + ".");
    }
    friends_ping pinged;
    std::vector<ping_record> records;
    for (const std::string& name : list_profiles(settings)) {
        friend_profile profile;
        (void)look_up_profile(settings, name, profile); // key consistency does not matter for a ping
        ping_record record;
        record.identifier = ping_identifier_for_row(records.size());
        // An address that does not resolve stays zero; its send then fails and the line says so.
        (void)resolve_address(profile.address, static_cast<std::uint16_t>(profile.port), record.destination);
        records.push_back(record);
        pinged.friends.push_back({name, {}});
    }
    if (records.empty()) {
        return pinged;
    }
    const ping_job_options options;
    const auto job = start_ping_job(records, options);
    if (job == nullptr) {
        return status(status_code::io_failure, "the ping job could not be started.");
    }
    if (job->socket_kind() == icmp_socket_kind::none) {
        pinged.no_socket = true;
        pinged.socket_error = job->socket_open_status().code();
    }
    // Each sweep sends 25 ms apart and then waits; four sweeps at most.
    const auto sweep = options.wait + std::chrono::milliseconds(100 + 25 * static_cast<int>(records.size()));
    if (!job->wait_until_done(sweep * (options.repeats + 1) + std::chrono::seconds(5))) {
        return status(status_code::io_failure, "the ping job did not finish in time.");
    }
    const std::vector<ping_record> done = job->records();
    for (std::size_t i = 0; i < done.size() && i < pinged.friends.size(); ++i) {
        const PING_STATUS state = done[i].result.status;
        pinged.friends[i].outcome = state == PING_STATUS::replied || state == PING_STATUS::waiting
                                        ? ping_status_text(state)
                                        : status_words(state);
    }
    return pinged;
}

std::string adapters_text() {
    tree_node root;
    fill_adapter_tree(root, get_adapters_info());
    return tree_text(root.children);
}

} // namespace tiv::app
