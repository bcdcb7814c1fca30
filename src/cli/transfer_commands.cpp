#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "app/program_spine.h"
#include "cli/cli.h"
#include "cli/command.h"
#include "log/activity_log.h"
#include "net/outgoing_connection_handler.h"
#include "settings/friend_profile.h"

namespace tiv::cli {

namespace {

constexpr std::chrono::milliseconds progress_period{250};

bool has_identity(qvl_settings_data& settings) {
    settings.load_settings();
    return !settings.text(text_setting::user_uuid).empty();
}

std::string dotted(const net_address& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sockaddr.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sockaddr.sin_port));
}

// Prints every activity log line to a stream while it lives.
class log_printer {
public:
    log_printer(std::ostream& out, std::mutex& lock) {
        m_nToken = activity_console().add_observer([&out, &lock](const log_line& line) {
            std::lock_guard guard(lock);
            out << line.text << std::endl;
        });
        set_activity_logging(true);
    }
    log_printer(const log_printer&) = delete;
    log_printer& operator=(const log_printer&) = delete;
    ~log_printer() {
        set_activity_logging(false);
        activity_console().remove_observer(m_nToken);
    }

private:
    observer_token m_nToken = 0;
};

// SIGINT and SIGTERM blocked in this thread and every thread started after it, so sigwait alone receives them.
class stop_signals {
public:
    stop_signals() {
        ::sigemptyset(&m_oSet);
        ::sigaddset(&m_oSet, SIGINT);
        ::sigaddset(&m_oSet, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &m_oSet, &m_oPrevious);
    }
    stop_signals(const stop_signals&) = delete;
    stop_signals& operator=(const stop_signals&) = delete;
    ~stop_signals() { ::pthread_sigmask(SIG_SETMASK, &m_oPrevious, nullptr); }

    int wait() const {
        int received = 0;
        while (::sigwait(&m_oSet, &received) != 0) {
        }
        return received;
    }

private:
    sigset_t m_oSet{};
    sigset_t m_oPrevious{};
};

int run_listen(const parsed_args& args, command_io& io) {
    if (!args.positional.empty()) {
        return fail(io, exit_usage, "listen takes no arguments.");
    }
    const stop_signals signals;
    qvl_settings_data settings;
    if (!has_identity(settings)) {
        return fail(io, exit_failure, "this user has no identity yet; run 'quorvel-cli init' first.");
    }
    std::mutex out_lock;
    const log_printer printer(io.out, out_lock);
    program_spine spine(settings, process_crypto_provider());
    spine.start();
    const incoming_connection_handler& listener = *spine.listener();
    if (!listener.listening()) {
        const std::string where = settings.text(text_setting::interface_ip_address) + ":" +
                                  std::to_string(settings.number(number_setting::listening_port));
        spine.shutdown();
        return fail(io, exit_failure, "cannot listen on " + where + ": " + std::strerror(listener.last_error()) + ".");
    }
    {
        std::lock_guard guard(out_lock);
        io.out << "Listening on " << dotted(listener.listening_address()) << "; parcels go below "
               << settings.text(text_setting::parcel_box_directory_root) << "/<friend>. Stop with Ctrl-C." << std::endl;
    }
    const int received = signals.wait();
    {
        std::lock_guard guard(out_lock);
        io.out << "Stopping (" << (received == SIGINT ? "SIGINT" : "SIGTERM") << ")." << std::endl;
    }
    spine.shutdown();
    return exit_success;
}

// ADDRESS:PORT of --to; false when it is not one.
bool parse_destination(const std::string& text, std::string& host, std::uint16_t& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    const auto number = parse_number(text.substr(colon + 1));
    if (!number || *number == 0 || *number > 65535) {
        return false;
    }
    host = text.substr(0, colon);
    port = static_cast<std::uint16_t>(*number);
    return true;
}

struct outgoing_file {
    std::string shown;
    std::uint64_t id = 0;
};

std::string progress_line(const std::string& shown, const transfer_snapshot& transfer) {
    std::ostringstream line;
    line << shown << "  " << transfer_state_name(transfer.state) << "  ";
    if (transfer.state >= RUNNING) {
        line << (transfer.size > 0 ? std::min<std::uint64_t>(100, transfer.bytes_done * 100 / transfer.size) : 100)
             << "%  ";
    }
    line << transfer.bytes_done << " bytes  " << std::fixed << std::setprecision(1) << transfer.rate / 1e6 << " MB/s";
    return line.str();
}

// The newest copy of each file's transfer, in the order of the files.
std::vector<transfer_snapshot> snapshots_of(const std::vector<outgoing_file>& files,
                                            const outgoing_connection_handler& handler) {
    const std::vector<transfer_snapshot> all = handler.snapshots();
    std::vector<transfer_snapshot> ordered;
    for (const outgoing_file& file : files) {
        const auto found = std::find_if(all.begin(), all.end(), [&file](const auto& t) { return t.id == file.id; });
        ordered.push_back(found != all.end() ? *found : transfer_snapshot{});
    }
    return ordered;
}

// On a terminal, one line per file, rewritten in place until every transfer has ended. Returns the final copies.
std::vector<transfer_snapshot> show_progress(const std::vector<outgoing_file>& files,
                                             const outgoing_connection_handler& handler, std::ostream& out,
                                             bool terminal) {
    bool drawn = false;
    for (;;) {
        const std::vector<transfer_snapshot> now = snapshots_of(files, handler);
        const bool running = std::any_of(now.begin(), now.end(), [](const auto& t) { return !t.finished; });
        if (terminal) {
            if (drawn) {
                out << "\033[" << files.size() << "A";
            }
            for (std::size_t i = 0; i < files.size(); ++i) {
                out << "\r\033[K" << progress_line(files[i].shown, now[i]) << '\n';
            }
            out << std::flush;
            drawn = true;
        }
        if (!running) {
            return now;
        }
        std::this_thread::sleep_for(progress_period);
    }
}

int run_send(const parsed_args& args, command_io& io) {
    if (args.positional.size() < 2) {
        return fail(io, exit_usage, "send needs a friend's name and at least one file.");
    }
    std::string host;
    std::uint16_t port = 0;
    const std::optional<std::string> to = args.value("to");
    if (to && !parse_destination(*to, host, port)) {
        return fail(io, exit_usage, "'" + *to + "' is not ADDRESS:PORT with a port from 1 to 65535.");
    }
    qvl_settings_data settings;
    if (!has_identity(settings)) {
        return fail(io, exit_failure, "this user has no identity yet; run 'quorvel-cli init' first.");
    }
    crypto_provider& provider = process_crypto_provider();
    open_identity(settings, provider);
    if (!provider.ready) {
        return fail(io, exit_failure, "this user's keys cannot be used, so nothing can be sent.");
    }
    const std::string& name = args.positional.front();
    friend_profile profile;
    if (!read_profile(settings, name, profile)) {
        return fail(io, exit_failure,
                    profile.name[0] == '\0' ? "there is no friend named '" + name + "' (see 'quorvel-cli friends')."
                                            : "the stored key of '" + name + "' is inconsistent; import it again.");
    }
    if (!to) {
        host = profile.address;
        port = static_cast<std::uint16_t>(profile.port);
    }
    net_address destination;
    if (!resolve_address(host.c_str(), port, destination)) {
        return fail(io, exit_failure, "cannot resolve '" + host + "'.");
    }

    std::mutex err_lock;
    std::optional<log_printer> printer;
    if (args.has("verbose")) {
        printer.emplace(io.err, err_lock);
    }
    outgoing_connection_handler handler(std::make_shared<negotiating_authentycryptor>(provider, settings));
    handler.profile = &profile;
    const int block_size = static_cast<int>(settings.number(number_setting::io_block_size));
    std::vector<outgoing_file> files;
    for (auto it = args.positional.begin() + 1; it != args.positional.end(); ++it) {
        std::error_code ignored;
        const std::filesystem::path path = std::filesystem::absolute(*it, ignored).lexically_normal();
        const auto transfer =
            handler.start_outgoing(path.parent_path().string(), path.filename().string(), destination, block_size);
        files.push_back({*it, transfer->id()});
    }
    const bool terminal = &io.out == &std::cout && ::isatty(STDOUT_FILENO) == 1;
    const std::vector<transfer_snapshot> final = show_progress(files, handler, io.out, terminal);

    bool all_arrived = true;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const transfer_snapshot& transfer = final[i];
        io.out << files[i].shown << ": " << transfer_state_name(transfer.state);
        if (transfer.failed || transfer.state != COMPLETED) {
            all_arrived = false;
            io.out << ": failed, status " << transfer.status << " (" << transfer.status_text << ")";
        }
        io.out << '\n';
    }
    return all_arrived ? exit_success : exit_failure;
}

} // namespace

std::vector<command> transfer_commands() {
    return {
        {"listen",
         "receive parcels until stopped",
         "Usage: quorvel-cli listen\n"
         "Starts the listener on the configured interface and port with activity logging on, prints every log line,\n"
         "and stores parcels from friends below the parcel box root, one directory per friend. SIGINT (Ctrl-C) or\n"
         "SIGTERM stops every transfer, removes unfinished files and exits with 0.\n",
         {},
         run_listen},
        {"send",
         "send files to a friend",
         "Usage: quorvel-cli send FRIEND FILE... [--to ADDRESS:PORT] [--verbose]\n"
         "Sends every FILE over a connection of its own, all at once, to the friend's stored address and port.\n"
         "On a terminal a progress line per file is kept up to date; then one line per file gives its final state\n"
         "and, on failure, the reason. Exits with 0 only when every file arrived.\n\n"
         "  --to ADDRESS:PORT   send there instead of the friend's stored address\n"
         "  --verbose           print the activity log lines on stderr\n",
         {{"to", true}, {"verbose", false}},
         run_send},
    };
}

} // namespace tiv::cli
