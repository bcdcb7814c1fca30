#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/unique_fd.h"

namespace tiv {

// The process-wide switch for the activity log: off at every start, flipped by the user, never saved.
// log_activity reads it without any lock, so a line logged at the moment of a toggle may or may not be taken.
extern std::atomic<bool> activity_logging;

inline bool is_activity_logging() {
    return activity_logging.load(std::memory_order_relaxed);
}
inline void set_activity_logging(bool bOn) {
    activity_logging.store(bOn, std::memory_order_relaxed);
}
// Inverts the switch (the menu item does this) and returns the new state, for the item's check mark.
bool toggle_activity_logging();

// One line as observers hear of it: when it was logged, the transfer it concerns (0 when it concerns no single
// transfer), and the text without the CR LF.
struct log_line {
    std::chrono::system_clock::time_point time;
    std::uint64_t transfer_id = 0;
    std::string_view text;
};

// Called with each line after it has been added to a console.
using console_observer = std::function<void(const log_line& oLine)>;
using observer_token = std::uint64_t;

// A console's text, its optional log file and the observers that want to hear of new lines.
//
// Lines are kept in the order they took the lock, and the log file receives them in that same order.
// Observers run on the thread that added the line, after the text lock has been released but under a
// separate observer lock, so they see the lines one at a time and in console order. They may read text()
// and may even log: such a nested line is stored but not announced again (an observer that logs every
// line it sees must not loop forever). They must return quickly, must not throw, and must not call
// add_observer or remove_observer, which wait for the observer lock the caller already holds.
//
// The in-memory text is bounded: once it passes the limit, the oldest whole lines are dropped until it is
// back at three quarters of it, so a log that runs for days keeps its newest part in memory while the file
// keeps everything.
class message_console {
public:
    // Longest line kept; anything beyond it is dropped without notice.
    static constexpr std::size_t max_line_length = 511;
    static constexpr std::size_t default_text_limit = std::size_t{8} << 20;
    // Never below a few lines, so the newest line always survives a trim.
    static constexpr std::size_t min_text_limit = 4096;

    explicit message_console(std::size_t nTextLimit = default_text_limit);
    message_console(const message_console&) = delete;
    message_console& operator=(const message_console&) = delete;

    // Escapes the line (see escaped_text), appends its first max_line_length bytes (never half a UTF-8
    // sequence) and CR LF to the text, writes the same to the log file when one is open (after the local time, so
    // concurrent transfers can be told apart afterwards), then tells the observers.
    void add_line(std::string_view strLine);
    // Appends "==> " and the comment to the text only; comments never reach the log file.
    void add_comment(std::string_view strComment);

    // Closes any open file, then opens `path` for appending (created with mode 0600) and writes the header
    // block. False when the file cannot be opened or the header cannot be written; lines then go to the
    // text only. Another console holding the same file (in this or another process) makes the open fail,
    // so two programs never mix their lines in one file.
    [[nodiscard]] bool open_log(const std::string& path);
    void close_log();
    [[nodiscard]] bool has_log() const;

    // A copy of the whole text, each line followed by CR LF.
    [[nodiscard]] std::string text() const;

    [[nodiscard]] observer_token add_observer(console_observer observer);
    // Once this returns the observer is not running and is never called again.
    void remove_observer(observer_token token);

private:
    struct observer_entry {
        observer_token m_nToken;
        console_observer m_oCallback;
    };

    struct pending_line {
        std::chrono::system_clock::time_point m_oTime;
        std::uint64_t m_nTransfer;
        std::string m_strText;
    };

    void store(std::string_view strLine, bool bToFile);
    void trim_text();
    void deliver_pending();

    mutable std::mutex m_oLock; // guards everything below up to m_aPending
    std::string m_strText;
    std::size_t m_nTextLimit;
    unique_fd m_oFile;
    bool m_bHaveObservers = false;
    std::vector<pending_line> m_aPending; // lines not yet shown to the observers, in console order

    // Taken before m_oLock whenever both are held; m_oLock holders never wait for it.
    std::mutex m_oObserverLock;
    std::vector<observer_entry> m_aObservers;
    observer_token m_nNextToken = 1;
};

// While it lives, every line this thread logs is marked as concerning the transfer `id`. Transfer threads hold
// one for the life of their body, so the lines of the authentication they call carry the id too.
class transfer_log_scope {
public:
    explicit transfer_log_scope(std::uint64_t id);
    transfer_log_scope(const transfer_log_scope&) = delete;
    transfer_log_scope& operator=(const transfer_log_scope&) = delete;
    ~transfer_log_scope();

private:
    std::uint64_t m_nPrevious;
};

// While it lives, the activity lines this thread logs wait in it instead of reaching the console: a connection whose
// nature shows only after a few lines (a friend's login check or message is worth one line, not a transfer's dozen)
// decides then what they are worth. Lines still held when it ends are logged then, in their order.
class held_log_lines {
public:
    held_log_lines();
    held_log_lines(const held_log_lines&) = delete;
    held_log_lines& operator=(const held_log_lines&) = delete;
    ~held_log_lines();

    // What this thread's hold took is logged now, and later lines go straight to the console. Without a hold on the
    // thread, nothing happens.
    static void release();
    // What this thread's hold took and will take is worth `line` alone: it is logged now, the rest never is.
    // Without a hold, `line` is simply logged.
    static void summarise(std::string_view line);

private:
    friend void log_activity_text(std::string_view strLine);
    // Whether this thread's hold took the line (or dropped it, once summarised).
    static bool takes(std::string_view line);

    held_log_lines* m_pPrevious;
    std::vector<std::string> m_aLines;
    bool m_bSummarised = false;
};

// The console that receives the activity log. It is never destroyed, so a worker thread that logs while the
// program is shutting down still finds it in one piece.
message_console& activity_console();

// Logs one line to the activity console when activity_logging is on; with logging off it costs one load of
// the switch and nothing is formatted or locked. The formatted text is cut to its first 511 characters.
void log_activity(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same for a line that is already text; it is never read as a format.
void log_activity_text(std::string_view strLine);

// Opens (or re-opens) the activity log file; see message_console::open_log.
[[nodiscard]] bool open_activity_log(const std::string& path);
void close_activity_log();

} // namespace tiv
