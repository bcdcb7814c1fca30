#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <unistd.h>

#include "app/endpoint_words.h"
#include "app/friend_conversation.h"
#include "app/identity.h"
#include "app/keys.h"
#include "app/program.h"
#include "app/receive_service.h"
#include "app/send_service.h"
#include "cli/cli.h"
#include "cli/command.h"
#include "cli/send_result.h"
#include "core/outside_text.h"

namespace tiv::cli {

namespace {

constexpr std::chrono::milliseconds progress_period{250};

// Log lines printed to a stream while it lives, each with its time and the transfer it concerns.
class log_printer {
public:
    log_printer(console& terminal, std::ostream& out) : m_oTerminal(terminal), m_oForwarding(terminal) {
        terminal.print_log_to(&out);
    }
    log_printer(const log_printer&) = delete;
    log_printer& operator=(const log_printer&) = delete;
    ~log_printer() { m_oTerminal.print_log_to(nullptr); }

private:
    console& m_oTerminal;
    app::log_forwarding m_oForwarding;
};

// Friends' messages printed to a stream while it lives.
class message_printer {
public:
    message_printer(console& terminal, app::program& program, std::ostream& out)
        : m_oTerminal(terminal), m_oFeed(program, terminal) {
        terminal.print_messages_to(&out);
    }
    message_printer(const message_printer&) = delete;
    message_printer& operator=(const message_printer&) = delete;
    ~message_printer() { m_oTerminal.print_messages_to(nullptr); }

private:
    console& m_oTerminal;
    app::message_feed m_oFeed;
};

// How often a listening program lets go of the parcels that have ended.
constexpr std::chrono::milliseconds listen_tidy_period{250};

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

    // The signal received within `period`, or 0 when none came.
    int wait_for(std::chrono::milliseconds period) const {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(period);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>(std::chrono::nanoseconds(period - seconds).count())};
        for (;;) {
            const int received = ::sigtimedwait(&m_oSet, nullptr, &timeout);
            if (received > 0) {
                return received;
            }
            if (errno != EINTR) {
                return 0;
            }
        }
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
    app::program program(io.terminal);
    if (app::status known = app::require_identity(program); !known) {
        return fail(io, exit_failure, known.text());
    }
    warn_about_machine_settings(io, program);
    const log_printer printer(io.terminal, io.out);
    const message_printer messages(io.terminal, program, io.out);
    program.start();
    if (!program.log_status()) {
        // Once, on stderr, which is also where systemd's journal takes it from.
        std::lock_guard guard(io.terminal.print_lock());
        io.err << "quorvel-cli: warning: " << program.log_status().text() << std::endl;
    }
    if (!program.listen_status()) {
        const app::status why = program.listen_status();
        program.shutdown();
        return fail(io, exit_failure, why.text());
    }
    {
        std::lock_guard guard(io.terminal.print_lock());
        io.out << "Listening on " << program.incoming().bound_address() << "; parcels go below "
               << app::describe_identity(program).parcel_root << "/<friend>. Stop with Ctrl-C." << std::endl;
    }
    // A receiver that runs for months keeps no row of a parcel that has ended: each was printed and recorded in the
    // history as it ended, and nothing here lists them again.
    int received = 0;
    while ((received = signals.wait_for(listen_tidy_period)) == 0) {
        (void)program.incoming().clear_completed();
    }
    {
        std::lock_guard guard(io.terminal.print_lock());
        io.out << "Stopping (" << (received == SIGINT ? "SIGINT" : "SIGTERM") << ")." << std::endl;
    }
    program.shutdown();
    return exit_success;
}

std::string progress_line(const std::string& shown, const app::transfer_view& transfer) {
    std::ostringstream line;
    line << escaped_text(shown) << "  " << app::transfer_state_name(transfer.state) << "  ";
    if (transfer.state >= app::transfer_state::running) {
        line << (transfer.size > 0 ? std::min<std::uint64_t>(100, transfer.bytes_done * 100 / transfer.size) : 100)
             << "%  ";
    }
    line << transfer.bytes_done << " bytes  " << std::fixed << std::setprecision(1) << transfer.rate / 1e6 << " MB/s";
    return line.str();
}

// On a terminal, one line per file, rewritten in place every progress period until every transfer has ended.
// Returns the final copies as soon as the last transfer ends.
std::vector<app::transfer_view> show_progress(const std::vector<std::string>& shown,
                                              const std::vector<std::uint64_t>& ids, const app::send_session& session,
                                              std::ostream& out, bool terminal) {
    bool drawn = false;
    for (;;) {
        const std::vector<app::transfer_view> now = session.snapshots(ids);
        const bool running = std::any_of(now.begin(), now.end(), [](const auto& t) { return !t.finished; });
        if (terminal) {
            if (drawn) {
                out << "\033[" << ids.size() << "A";
            }
            for (std::size_t i = 0; i < ids.size(); ++i) {
                out << "\r\033[K" << progress_line(shown[i], now[i]) << '\n';
            }
            out << std::flush;
            drawn = true;
        }
        if (!running) {
            return now;
        }
        // Whether all have ended is read from the copies above, the same ones the summary prints.
        (void)session.wait_until_ended(std::chrono::steady_clock::now() + progress_period);
    }
}

int run_send(const parsed_args& args, command_io& io) {
    if (args.positional.size() < 2) {
        return fail(io, exit_usage, "send needs a friend's name and at least one file.");
    }
    std::optional<std::string> host;
    std::optional<std::uint32_t> port;
    if (const std::optional<std::string> to = args.value("to")) {
        const std::optional<app::endpoint> parsed = app::parse_endpoint(*to);
        if (!parsed) {
            return fail(io, exit_usage,
                        "'" + *to +
                            "' is not ADDRESS:PORT with a port from 1 to 65535 (an IPv6 address in brackets: "
                            "[2001:db8::5]:20000).");
        }
        host = parsed->host;
        port = parsed->port;
    }
    app::program program(io.terminal);
    if (app::status opened = app::open_sender_identity(program); !opened) {
        return fail(io, exit_failure, opened.text());
    }
    warn_about_machine_settings(io, program);
    warn_about_keys(io, program);
    app::send_session session(program);
    if (app::status destination = session.set_destination(args.positional.front(), host, port); !destination) {
        return fail(io, exit_failure, destination.text());
    }
    std::optional<log_printer> printer;
    if (args.has("verbose")) {
        printer.emplace(io.terminal, io.err);
    }
    std::vector<std::string> files(args.positional.begin() + 1, args.positional.end());
    const bool has_folder = std::any_of(files.begin(), files.end(), app::is_folder);
    if (has_folder && files.size() > 1) {
        return fail(io, exit_usage, "a folder goes on its own: quorvel-cli send FRIEND FOLDER.");
    }
    std::vector<std::uint64_t> ids;
    if (has_folder) {
        app::result<app::send_session::folder_send> started = session.send_folder(files.front());
        if (!started) {
            return fail(io, exit_failure, started.error().text());
        }
        for (const std::string& skipped : started->skipped) {
            io.out << "skipped: " << escaped_text(started->name + "/" + skipped) << '\n';
        }
        ids = std::move(started->ids);
        files = std::move(started->shown);
    } else {
        app::result<std::vector<std::uint64_t>> started = session.send(files);
        if (!started) {
            return fail(io, exit_failure, started.error().text());
        }
        ids = std::move(*started);
    }
    const bool terminal = &io.out == &std::cout && ::isatty(STDOUT_FILENO) == 1;
    const std::vector<app::transfer_view> final = show_progress(files, ids, session, io.out, terminal);

    bool all_arrived = true;
    for (std::size_t i = 0; i < files.size(); ++i) {
        all_arrived = all_arrived && arrived(final[i]);
        io.out << send_result_line(files[i], final[i]) << '\n';
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
         "and stores parcels from friends below the parcel box root, one directory per friend. Messages from friends\n"
         "are printed under who sent them and when (they are kept nowhere). Unfinished files that\n"
         "a listener killed earlier left there are removed first. SIGINT (Ctrl-C) or SIGTERM stops every transfer,\n"
         "removes unfinished files and exits with 0. A parcel box root or key file that cannot be used is named\n"
         "with the reason, and listen exits with 1 without listening. A log file that cannot be written is named\n"
         "with the reason once on stderr, and listen receives all the same, printing the log lines only.\n",
         {},
         run_listen},
        {"send",
         "send files to a friend",
         "Usage: quorvel-cli send FRIEND FILE... [--to ADDRESS:PORT] [--verbose]\n"
         "       quorvel-cli send FRIEND FOLDER [--to ADDRESS:PORT] [--verbose]\n"
         "Sends every FILE to the friend's stored address and port. To a friend whose key is pinned the files share\n"
         "one connection (a receiver of an older version gets a connection per file), and a large file whose\n"
         "transfer broke continues from what the receiver kept of it. A FOLDER is sent with its whole tree,\n"
         "empty directories too, and arrives as a new folder in the friend's parcel box; symbolic links inside it\n"
         "are not followed but listed as skipped. On a terminal a progress line per file is kept up to date; then\n"
         "one line per file reads COMPLETED for a file that arrived, or says that it failed and why (and the state\n"
         "it stopped in, when that was before the end of its data). Exits with 0 only when every file arrived.\n\n"
         "  --to ADDRESS:PORT   send there instead of the friend's stored address ([ADDRESS]:PORT for IPv6)\n"
         "  --verbose           print the activity log lines on stderr\n",
         {{"to", true}, {"verbose", false}},
         run_send},
    };
}

} // namespace tiv::cli
