#include "presence/ping.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace tiv {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Taken during static initialisation, so it is in place before any thread can ask.
const steady_clock::time_point program_start = steady_clock::now();

constexpr milliseconds sweep_receive_slice{100};
constexpr milliseconds send_spacing{25};

std::atomic<std::uint32_t> once_sequence{1};

void set_address_text(char (&text)[ping_address_text_size], const ip_endpoint& endpoint) {
    net_address address;
    address.endpoint = endpoint;
    std::snprintf(text, sizeof text, "%-19s", host_text(address).c_str());
}

// The same host: the family, the address and, where both name one, the interface of a link-local address.
bool same_host(const ip_endpoint& a, const ip_endpoint& b) {
    if (a.any.sa_family != b.any.sa_family) {
        return false;
    }
    if (a.any.sa_family == AF_INET) {
        return a.v4.sin_addr.s_addr == b.v4.sin_addr.s_addr;
    }
    return a.any.sa_family == AF_INET6 && IN6_ARE_ADDR_EQUAL(&a.v6.sin6_addr, &b.v6.sin6_addr) &&
           (a.v6.sin6_scope_id == 0 || b.v6.sin6_scope_id == 0 || a.v6.sin6_scope_id == b.v6.sin6_scope_id);
}

void take_reply(ping_result& result, const icmp_datagram& reply) {
    result.icmp_word1 = reply.icmp_word1;
    result.icmp_word2 = reply.icmp_word2;
    result.bytes_received = reply.length;
    result.over_ipv6 = reply.ipv6();
    set_address_text(result.reply_source, reply.source);
    set_address_text(result.reply_destination, reply.destination);
}

PING_STATUS send_status(const sys_status& sent) {
    return sent.code() == ETIMEDOUT ? PING_STATUS::send_timed_out : PING_STATUS::send_failed;
}

// One sweep over a job's records: every record not yet replied gets a request, and the replies are matched to them
// as they come. Every change of a record is told to the caller at once.
class ping_sweeper {
public:
    ping_sweeper(std::span<ping_record> records, ping_socket& socket, const sweep_control& control)
        : m_aRecords(records), m_oSocket(socket), m_oControl(control) {
        for (const ping_record& record : records) {
            m_nUnanswered += record.replied ? 0 : 1;
        }
    }

    int run(milliseconds wait, int length) {
        // Without an ICMP socket every ping ends as a time-to-live failure, in sweeps as in ping_once.
        if (!m_oSocket.valid()) {
            mark_unanswered(PING_STATUS::ttl_failed, true);
            return m_nUnanswered == 0 ? 0 : 1;
        }
        if (!m_oSocket.drain_then_set_timeout(static_cast<int>(sweep_receive_slice.count()))) {
            // A record that has replied keeps its result through the job.
            mark_unanswered(PING_STATUS::timeout_failed, false);
            return -1;
        }
        mark_unanswered(PING_STATUS::waiting, false);
        send_requests(clamp_request_length(length));
        collect_replies(wait);
        return m_nUnanswered == 0 ? 0 : 1;
    }

private:
    [[nodiscard]] bool stopping() const { return m_oControl.stop != nullptr && m_oControl.stop->load(); }

    void publish(std::size_t i) const {
        if (m_oControl.changed) {
            m_oControl.changed(i, m_aRecords[i]);
        }
    }

    // Every record not yet replied takes `status`; `unsent` ones have no send time.
    void mark_unanswered(PING_STATUS status, bool unsent) {
        for (std::size_t i = 0; i < m_aRecords.size(); ++i) {
            if (!m_aRecords[i].replied) {
                m_aRecords[i].result.status = status;
                if (unsent) {
                    m_aRecords[i].send_time = -1;
                }
                publish(i);
            }
        }
    }

    // All requests carry one send time: the sweep's start.
    void send_requests(std::uint16_t request_length) {
        const std::int32_t t0 = ping_stopwatch_ms();
        for (std::size_t i = 0; i < m_aRecords.size() && !stopping(); ++i) {
            ping_record& record = m_aRecords[i];
            if (record.replied) {
                continue;
            }
            const int family = record.destination.family();
            if (!m_oSocket.set_ttl(family, record.time_to_live)) {
                record.result.status = PING_STATUS::ttl_failed;
                record.send_time = -1;
                publish(i);
                continue;
            }
            record.send_time = t0;
            const echo_fields fields = sweep_request_fields(m_oSocket.kind(), record.identifier);
            const std::vector<std::uint8_t> message =
                build_echo_request(fields.identifier, fields.sequence, request_length, family);
            // Spacing the requests keeps a long friend list from arriving at the network as one burst.
            std::this_thread::sleep_for(send_spacing);
            if (const sys_status sent = m_oSocket.send_to(message, record.destination); !sent) {
                record.result.status = send_status(sent);
            }
            publish(i);
        }
    }

    // Until every record has replied, `wait` has passed or the caller stops the sweep.
    void collect_replies(milliseconds wait) {
        const auto deadline = steady_clock::now() + wait;
        icmp_datagram reply;
        while (m_nUnanswered > 0 && !stopping()) {
            const auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            const status_or<bool, sys_status> got = m_oSocket.receive(reply, std::min(left, sweep_receive_slice));
            if (!got || !got.value()) {
                continue;
            }
            const std::size_t i = find_replied_record(m_aRecords, reply, m_oSocket.kind());
            if (i == m_aRecords.size() || m_aRecords[i].replied) {
                continue;
            }
            ping_record& record = m_aRecords[i];
            record.replied = true;
            record.result.status = PING_STATUS::replied;
            record.result.round_trip = ping_stopwatch_ms() - record.send_time;
            take_reply(record.result, reply);
            --m_nUnanswered;
            publish(i);
        }
    }

    std::span<ping_record> m_aRecords;
    ping_socket& m_oSocket;
    const sweep_control& m_oControl;
    std::size_t m_nUnanswered = 0;
};

} // namespace

const char* ping_status_text(PING_STATUS status) {
    switch (status) {
    case PING_STATUS::replied:
        return "OK";
    case PING_STATUS::waiting:
        return "TIMEOUT";
    case PING_STATUS::send_timed_out:
        return "sending timed out";
    case PING_STATUS::send_failed:
        return "sending failed";
    case PING_STATUS::reply_too_short:
        return "reply too short";
    case PING_STATUS::reply_other_type:
        return "destination reported unreachable";
    case PING_STATUS::receive_timed_out:
        return "no reply in time";
    case PING_STATUS::receive_failed:
        return "receiving failed";
    case PING_STATUS::ttl_failed:
        return "time-to-live could not be set";
    case PING_STATUS::timeout_failed:
        return "receive time-out could not be set";
    }
    return "unknown status";
}

std::int32_t ping_stopwatch_ms() {
    return static_cast<std::int32_t>(
        std::chrono::duration_cast<milliseconds>(steady_clock::now() - program_start).count());
}

std::uint16_t ping_process_tag() {
    return static_cast<std::uint16_t>(::getpid() & 0xFFFF);
}

echo_fields sweep_request_fields(icmp_socket_kind kind, std::uint16_t record_identifier) {
    if (kind == icmp_socket_kind::datagram) {
        return {0, record_identifier};
    }
    return {record_identifier, ping_process_tag()};
}

bool answers_request(const icmp_datagram& message, echo_fields request, icmp_socket_kind kind) {
    return message.names_request && message.sequence == request.sequence &&
           (kind == icmp_socket_kind::datagram || message.identifier == request.identifier);
}

std::size_t find_replied_record(std::span<const ping_record> records, const icmp_datagram& reply,
                                icmp_socket_kind kind) {
    if (!reply.is_echo_reply()) {
        return records.size();
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        const ping_record& record = records[i];
        if (same_host(record.destination.endpoint, reply.source) &&
            answers_request(reply, sweep_request_fields(kind, record.identifier), kind)) {
            return i;
        }
    }
    return records.size();
}

ping_result ping_once(ping_socket& socket, const net_address& destination, milliseconds reply_wait) {
    ping_result result;
    result.round_trip = -1;
    if (!socket.set_ttl(destination.family(), ping_once_ttl)) {
        result.status = PING_STATUS::ttl_failed;
        return result;
    }
    const int wait_ms = static_cast<int>(std::max<milliseconds::rep>(reply_wait.count(), 0));
    if (!socket.drain_then_set_timeout(wait_ms)) {
        result.status = PING_STATUS::timeout_failed;
        return result;
    }

    const echo_fields request{ping_process_tag(), static_cast<std::uint16_t>(once_sequence.fetch_add(1))};
    const std::vector<std::uint8_t> message =
        build_echo_request(request.identifier, request.sequence, ping_once_length, destination.family());
    const auto start = steady_clock::now();
    const std::int32_t start_ms = ping_stopwatch_ms();
    if (const sys_status sent = socket.send_to(message, destination); !sent) {
        result.status = send_status(sent);
        return result;
    }

    const auto deadline = start + reply_wait;
    icmp_datagram reply;
    for (;;) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
        const status_or<bool, sys_status> got = socket.receive(reply, std::max(left, milliseconds{0}));
        if (!got) {
            result.status =
                got.status().code() == ETIMEDOUT ? PING_STATUS::receive_timed_out : PING_STATUS::receive_failed;
            return result;
        }
        if (got.value() && answers_request(reply, request, socket.kind())) {
            break;
        }
        if (steady_clock::now() >= deadline) {
            result.status = PING_STATUS::receive_timed_out;
            return result;
        }
    }

    const std::int32_t round_trip = ping_stopwatch_ms() - start_ms;
    take_reply(result, reply);
    if (reply.length < reply.header_length + 12) {
        result.status = PING_STATUS::reply_too_short;
    } else if (!reply.is_echo_reply() && !reply.is_time_exceeded()) {
        result.status = PING_STATUS::reply_other_type;
    } else {
        result.status = PING_STATUS::replied;
        result.round_trip = round_trip;
    }
    return result;
}

ping_result ping_once(const net_address& destination) {
    static std::mutex turn;
    const std::lock_guard<std::mutex> lock(turn);
    static ping_socket process_socket;
    return ping_once(process_socket, destination);
}

int ping_sweep(std::span<ping_record> records, ping_socket& socket, milliseconds wait, int length,
               const sweep_control& control) {
    return ping_sweeper(records, socket, control).run(wait, length);
}

} // namespace tiv
