#include "app/send_service.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>

#include "app/internal/destination_check.h"
#include "app/internal/friend_records.h"
#include "app/internal/lan/lan_neighbours.h"
#include "app/internal/program_parts.h"
#include "app/internal/provider_report.h"
#include "app/internal/settings/identity_service.h"
#include "core/address_text.h"
#include "core/outside_text.h"
#include "crypto/crypto_provider.h"
#include "crypto/negotiating_authentycryptor.h"
#include "net/stream/folder_listing.h"
#include "net/stream/parcel_channel.h"
#include "net/transfer/outgoing_connection_handler.h"
#include "net/transfer/transfer_state.h"
#include "platform/uuid.h"
#include "settings/qvl_settings_data.h"

namespace tiv::app {

status open_sender_identity(program& p) {
    qvl_settings_data& settings = settings_of(p);
    if (status known = require_identity(settings); !known) {
        return known;
    }
    status opened = open_identity(settings, provider_of(p));
    report_open_failure(provider_of(p), questions_of(p));
    return opened;
}

std::optional<status> missing_zone(const std::string& host, const net_address& address) {
    if (!lacks_zone(address)) {
        return std::nullopt;
    }
    return status(status_code::invalid, "'" + host +
                                            "' is a link-local address, which needs the interface it is reached "
                                            "through: add it after a '%', as in " +
                                            host + "%eth0.");
}

result<std::vector<net_address>> check_destination(const std::string& host, std::uint32_t port,
                                                   const name_resolver& resolve) {
    if (port == 0 || port > 65535) {
        return status(status_code::invalid, "port " + std::to_string(port) + " names no listener to send to.");
    }
    // A stored address may predate the checks on addresses; it never reaches the resolver or a message as it is.
    if (const std::optional<std::string> fault = address_fault(host)) {
        return status(status_code::invalid, "the address '" + escaped_text(host) + "' " + *fault + ".");
    }
    resolved_names found = resolve(host, static_cast<std::uint16_t>(port));
    if (found.addresses.empty()) {
        return status(status_code::unreachable, "cannot resolve '" + host + "'.");
    }
    if (std::optional<status> refused = missing_zone(host, found.addresses.front())) {
        return std::move(*refused);
    }
    if (is_unspecified(found.addresses.front())) {
        return status(status_code::invalid, "'" + host + "' is the address " + host_text(found.addresses.front()) +
                                                ", which names no computer to send to.");
    }
    return std::move(found.addresses);
}

bool is_folder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Where ending transfers wake a waiter. Shared with the transfers' listener, which a body that outlasts the
// session's stop still calls.
struct end_signal {
    std::mutex lock;
    std::condition_variable ended;
    std::size_t started = 0;  // transfers this session started
    std::size_t finished = 0; // and those heard of as finished
};

// The friend outlives the transfers, which send to them.
struct send_session::parts {
    parts(qvl_settings_data& settings, crypto_provider& provider, name_resolver resolve)
        : settings(settings), provider(provider), resolve(std::move(resolve)),
          transfers(std::make_shared<negotiating_authentycryptor>(provider, settings,
                                                                  negotiating_authentycryptor::version::conversing)) {}

    qvl_settings_data& settings;
    crypto_provider& provider;
    name_resolver resolve;
    std::shared_ptr<end_signal> ends = std::make_shared<end_signal>();
    friend_profile destination_friend;
    std::vector<net_address> destination; // every address of it, in the order they are tried
    bool destination_set = false;
    // Watching the LAN from the choice of a friend on, so that its announcements are in when the stored address
    // fails.
    std::shared_ptr<lan_neighbours> lan;
    outgoing_connection_handler transfers;

    // Files and folders alike need a chosen destination and this user's keys.
    [[nodiscard]] status ready_to_send() const {
        if (!destination_set) {
            return {status_code::invalid, "no friend to send to has been chosen."};
        }
        if (!provider.ready) {
            return {status_code::keys_unavailable, "this user's keys cannot be used, so nothing can be sent."};
        }
        return {};
    }
};

namespace {
// A stale address costs a send no more than this wait for the friend's announcement on the LAN.
constexpr std::chrono::milliseconds lan_answer_bound{3000};

std::function<std::vector<net_address>()> lan_fallback(const std::shared_ptr<lan_neighbours>& lan,
                                                       const std::string& uuid) {
    return [lan, uuid] { return lan->wait_for(uuid, lan_answer_bound); };
}
} // namespace

send_session::send_session(program& p)
    : m_pParts(std::make_unique<parts>(settings_of(p), provider_of(p), resolver_of(p))) {
    m_pParts->lan = lan_of(p);
    m_pParts->transfers.set_listener(
        [ends = m_pParts->ends, history = p.parts().history](const transfer_view& transfer) {
            history->record(transfer);
            if (transfer.finished) {
                {
                    const std::lock_guard guard(ends->lock);
                    ++ends->finished;
                }
                ends->ended.notify_all();
            }
        });
    m_pParts->transfers.profile = &m_pParts->destination_friend;
}

send_session::~send_session() {
    m_pParts->transfers.stop_all();
}

status send_session::set_destination(const std::string& friend_name, const std::optional<std::string>& host,
                                     std::optional<std::uint32_t> port) {
    m_pParts->destination_set = false;
    result<friend_profile> found = read_friend_profile(m_pParts->settings, friend_name);
    if (!found) {
        return found.error();
    }
    result<std::vector<net_address>> destination = check_destination(
        host.value_or(found->address), port.value_or(static_cast<std::uint32_t>(found->port)), m_pParts->resolve);
    if (!destination) {
        return destination.error();
    }
    m_pParts->destination_friend = std::move(*found);
    m_pParts->destination = std::move(*destination);
    m_pParts->destination_set = true;
    m_pParts->transfers.fallback_candidates = nullptr;
    // Also when the front end names the address: it is the stored one, resolved (the send window's way).
    if (uuid_from_text(m_pParts->destination_friend.uuid)) {
        if (m_pParts->lan == nullptr) {
            m_pParts->lan = std::make_shared<lan_neighbours>();
        }
        m_pParts->transfers.fallback_candidates = lan_fallback(m_pParts->lan, m_pParts->destination_friend.uuid);
    }
    return {};
}

status send_session::set_manual_destination(const std::string& host, std::uint32_t port) {
    m_pParts->destination_set = false;
    result<std::vector<net_address>> destination = check_destination(host, port, m_pParts->resolve);
    if (!destination) {
        return destination.error();
    }
    m_pParts->destination_friend = friend_profile{};
    m_pParts->transfers.fallback_candidates = nullptr;
    m_pParts->destination = std::move(*destination);
    m_pParts->destination_set = true;
    return {};
}

result<std::vector<std::uint64_t>> send_session::send(const std::vector<std::string>& files) {
    if (status ready = m_pParts->ready_to_send(); !ready) {
        return ready;
    }
    // Refused before anything connects: the transfer would refuse it too, but only after the others had started.
    for (const std::string& file : files) {
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            return status(status_code::invalid, unopenable_file_words(file, 0) + ".");
        }
    }
    std::vector<std::uint64_t> ids;
    const int block_size = static_cast<int>(m_pParts->settings.number(number_setting::io_block_size));
    // A friend without a pinned key takes the old exchange only, one connection per file.
    const auto channel =
        m_pParts->destination_friend.pinned() ? std::make_shared<parcel_channel>(files.size()) : nullptr;
    count_started(files.size());
    for (const std::string& file : files) {
        std::error_code ignored;
        const std::filesystem::path path = std::filesystem::absolute(file, ignored).lexically_normal();
        ids.push_back(m_pParts->transfers
                          .start_outgoing(path.parent_path().string(), path.filename().string(), m_pParts->destination,
                                          block_size, channel)
                          ->id());
    }
    return ids;
}

result<send_session::folder_send> send_session::send_folder(const std::string& folder) {
    if (status ready = m_pParts->ready_to_send(); !ready) {
        return ready;
    }
    if (!m_pParts->destination_friend.pinned()) {
        const std::string name =
            m_pParts->destination_friend.name[0] != '\0' ? m_pParts->destination_friend.name : "this destination";
        return status(status_code::invalid,
                      "folders go only to a friend whose signature key you hold: import " + name + "'s profile first.");
    }
    std::string why;
    std::optional<folder_listing> listing = list_folder(folder, why);
    if (!listing) {
        return status(status_code::invalid, why + ".");
    }
    if (listing->files.empty()) {
        return status(status_code::invalid, "'" + folder + "' holds no file to send.");
    }
    std::error_code ignored;
    const std::string root = std::filesystem::absolute(folder, ignored).lexically_normal().string();
    const auto channel = std::make_shared<parcel_channel>(
        listing->files.size(), folder_plan{.name = listing->top_name,
                                           .directories = listing->directories,
                                           .files = static_cast<std::uint32_t>(listing->files.size()),
                                           .bytes = listing->total_bytes});
    folder_send started{.name = listing->top_name, .ids = {}, .shown = {}, .skipped = std::move(listing->skipped)};
    const int block_size = static_cast<int>(m_pParts->settings.number(number_setting::io_block_size));
    count_started(listing->files.size());
    for (const folder_listing::file& file : listing->files) {
        started.ids.push_back(
            m_pParts->transfers
                .start_outgoing(root, file.relative, m_pParts->destination, block_size, channel, file.relative)
                ->id());
        started.shown.push_back(listing->top_name + "/" + file.relative);
    }
    return started;
}

std::vector<transfer_view> send_session::snapshots() const {
    return m_pParts->transfers.snapshots();
}

std::vector<transfer_view> send_session::snapshots(const std::vector<std::uint64_t>& ids) const {
    const std::vector<transfer_view> all = m_pParts->transfers.snapshots();
    std::vector<transfer_view> ordered;
    for (const std::uint64_t id : ids) {
        const auto found = std::find_if(all.begin(), all.end(), [id](const auto& t) { return t.id == id; });
        ordered.push_back(found != all.end() ? *found : transfer_view{});
    }
    return ordered;
}

bool send_session::wait_until_ended(std::chrono::steady_clock::time_point deadline) const {
    {
        // Counting the ends keeps each wake-up cheap, which a thousand ends in a row need. A transfer whose thread
        // never started is never heard of, so once the wait is over the list itself has the last word.
        std::unique_lock guard(m_pParts->ends->lock);
        if (m_pParts->ends->ended.wait_until(guard, deadline,
                                             [this] { return m_pParts->ends->finished >= m_pParts->ends->started; })) {
            return true;
        }
    }
    return all_ended();
}

void send_session::count_started(std::size_t transfers) {
    const std::lock_guard guard(m_pParts->ends->lock);
    m_pParts->ends->started += transfers;
}

bool send_session::all_ended() const {
    const std::vector<transfer_view> all = m_pParts->transfers.snapshots();
    return std::all_of(all.begin(), all.end(), [](const auto& t) { return t.finished; });
}

std::size_t send_session::running_count() const {
    return m_pParts->transfers.running_count();
}

void send_session::clear_completed() {
    (void)m_pParts->transfers.clear_completed();
}

bool send_session::stop_transfer(std::uint64_t id) {
    return m_pParts->transfers.stop_transfer(id);
}

bool send_session::pause_transfer(std::uint64_t id) {
    return m_pParts->transfers.stop_transfer(id, thread_bundle::arrived_part::keep);
}

void send_session::stop_all() {
    m_pParts->transfers.stop_all();
}

} // namespace tiv::app
