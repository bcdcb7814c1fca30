#include "log/activity_log.h"

#include "core/outside_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace tiv {

std::atomic<bool> activity_logging{false};

namespace {

constexpr std::string_view line_end = "\r\n";
constexpr std::string_view comment_prefix = "==> ";
constexpr std::size_t header_rule_length = 43;
constexpr std::size_t date_buffer_size = 128;

// The console whose observers this thread is running, so a line logged from inside one is not announced again.
thread_local const message_console* t_pNotifying = nullptr;
// The transfer whose body runs on this thread, 0 for any other thread.
thread_local std::uint64_t t_nTransfer = 0;
// The lines this thread holds back for now, if it does.
thread_local held_log_lines* t_pHeld = nullptr;

// "2026-12-07 22:51:38.123 ": the local time of a log file line, to the millisecond.
constexpr std::size_t time_stamp_length = 24;
std::size_t format_time_stamp(std::chrono::system_clock::time_point oTime, char* pOut) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(oTime);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(oTime.time_since_epoch()).count() % 1000;
    std::tm oLocal{};
    if (::localtime_r(&seconds, &oLocal) == nullptr) {
        return 0;
    }
    char aText[time_stamp_length + 8];
    const std::size_t nDate = std::strftime(aText, sizeof aText, "%Y-%m-%d %H:%M:%S", &oLocal);
    const int nAll = std::snprintf(aText + nDate, sizeof aText - nDate, ".%03d ", static_cast<int>(millis));
    const std::size_t nLength = std::min(nDate + static_cast<std::size_t>(std::max(nAll, 0)), time_stamp_length);
    std::memcpy(pOut, aText, nLength);
    return nLength;
}

bool write_all(int fd, const char* pData, std::size_t nSize) {
    while (nSize > 0) {
        const ssize_t nWritten = ::write(fd, pData, nSize);
        if (nWritten < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        pData += nWritten;
        nSize -= static_cast<std::size_t>(nWritten);
    }
    return true;
}

std::string local_time_text() {
    const std::time_t now = std::time(nullptr);
    std::tm oLocal{};
    if (now == static_cast<std::time_t>(-1) || ::localtime_r(&now, &oLocal) == nullptr) {
        return {};
    }
    char aDate[date_buffer_size];
    const std::size_t nLength = std::strftime(aDate, sizeof aDate, "%c", &oLocal);
    return std::string(aDate, nLength);
}

std::string header_block() {
    const std::string strRule(header_rule_length, '=');
    std::string strHeader;
    strHeader.append(strRule).append(line_end);
    strHeader.append(local_time_text()).append(line_end);
    strHeader.append(strRule).append(line_end);
    return strHeader;
}

class notifying_scope {
public:
    explicit notifying_scope(const message_console* pConsole) : m_pPrevious(t_pNotifying) { t_pNotifying = pConsole; }
    notifying_scope(const notifying_scope&) = delete;
    notifying_scope& operator=(const notifying_scope&) = delete;
    ~notifying_scope() { t_pNotifying = m_pPrevious; }

private:
    const message_console* m_pPrevious;
};

} // namespace

bool toggle_activity_logging() {
    bool bOld = activity_logging.load(std::memory_order_relaxed);
    while (!activity_logging.compare_exchange_weak(bOld, !bOld, std::memory_order_relaxed)) {
    }
    return !bOld;
}

message_console::message_console(std::size_t nTextLimit) : m_nTextLimit(std::max(nTextLimit, min_text_limit)) {}

void message_console::add_line(std::string_view strLine) {
    // Lines carry names that peers chose; escaped, they can neither drive a terminal nor hide behind a bidi
    // override in the file or the window.
    const std::string strTame = escaped_text(strLine);
    store(cut_utf8(strTame, max_line_length), true);
}

void message_console::add_comment(std::string_view strComment) {
    std::string strLine;
    strLine.reserve(comment_prefix.size() + strComment.size());
    strLine.append(comment_prefix).append(escaped_text(strComment));
    store(strLine, false);
}

void message_console::store(std::string_view strLine, bool bToFile) {
    const auto oNow = std::chrono::system_clock::now();
    bool bNotify = false;
    {
        std::lock_guard guard(m_oLock);
        m_strText.append(strLine).append(line_end);
        trim_text();
        if (bToFile && m_oFile) {
            // One write per line, so a reader of the file never sees half a line. A failed write cannot be
            // reported to anyone: the log never fails towards its caller.
            char aRecord[time_stamp_length + max_line_length + line_end.size()];
            const std::size_t nStamp = format_time_stamp(oNow, aRecord);
            std::memcpy(aRecord + nStamp, strLine.data(), strLine.size());
            std::memcpy(aRecord + nStamp + strLine.size(), line_end.data(), line_end.size());
            (void)write_all(m_oFile.get(), aRecord, nStamp + strLine.size() + line_end.size());
        }
        if (m_bHaveObservers && t_pNotifying != this) {
            m_aPending.push_back({oNow, t_nTransfer, std::string(strLine)});
            bNotify = true;
        }
    }
    if (bNotify) {
        deliver_pending();
    }
}

void message_console::trim_text() {
    if (m_strText.size() <= m_nTextLimit) {
        return;
    }
    const std::size_t nKeep = m_nTextLimit / 4 * 3;
    // Cut just after a line feed so the text still starts with a whole line.
    const std::size_t nFeed = m_strText.find('\n', m_strText.size() - nKeep - 1);
    m_strText.erase(0, nFeed == std::string::npos ? m_strText.size() : nFeed + 1);
}

void message_console::deliver_pending() {
    // Whoever holds the observer lock delivers every pending line, in order, including lines other threads
    // queued meanwhile; a thread that finds the queue empty knows its line has already been delivered.
    std::lock_guard observers(m_oObserverLock);
    notifying_scope scope(this);
    for (;;) {
        std::vector<pending_line> aLines;
        {
            std::lock_guard guard(m_oLock);
            aLines.swap(m_aPending);
        }
        if (aLines.empty()) {
            return;
        }
        for (const pending_line& oPending : aLines) {
            const log_line oLine{oPending.m_oTime, oPending.m_nTransfer, oPending.m_strText};
            for (const observer_entry& oEntry : m_aObservers) {
                oEntry.m_oCallback(oLine);
            }
        }
    }
}

bool message_console::open_log(const std::string& path) {
    std::lock_guard guard(m_oLock);
    m_oFile.reset();
    unique_fd oFile(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (!oFile) {
        return false;
    }
    // Others may read the file while we hold it, but no second writer may append its own lines to it.
    if (::flock(oFile.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    const std::string strHeader = header_block();
    if (!write_all(oFile.get(), strHeader.data(), strHeader.size())) {
        return false;
    }
    m_oFile = std::move(oFile);
    return true;
}

void message_console::close_log() {
    std::lock_guard guard(m_oLock);
    m_oFile.reset();
}

bool message_console::has_log() const {
    std::lock_guard guard(m_oLock);
    return static_cast<bool>(m_oFile);
}

std::string message_console::text() const {
    std::lock_guard guard(m_oLock);
    return m_strText;
}

observer_token message_console::add_observer(console_observer observer) {
    std::lock_guard observers(m_oObserverLock);
    const observer_token nToken = m_nNextToken++;
    m_aObservers.push_back({nToken, std::move(observer)});
    std::lock_guard guard(m_oLock);
    m_bHaveObservers = true;
    return nToken;
}

void message_console::remove_observer(observer_token token) {
    std::lock_guard observers(m_oObserverLock);
    std::erase_if(m_aObservers, [token](const observer_entry& oEntry) { return oEntry.m_nToken == token; });
    std::lock_guard guard(m_oLock);
    m_bHaveObservers = !m_aObservers.empty();
}

transfer_log_scope::transfer_log_scope(std::uint64_t id) : m_nPrevious(t_nTransfer) {
    t_nTransfer = id;
}

transfer_log_scope::~transfer_log_scope() {
    t_nTransfer = m_nPrevious;
}

held_log_lines::held_log_lines() : m_pPrevious(t_pHeld) {
    t_pHeld = this;
}

held_log_lines::~held_log_lines() {
    if (t_pHeld == this) {
        release();
    }
    t_pHeld = m_pPrevious;
}

void held_log_lines::release() {
    held_log_lines* const held = t_pHeld;
    if (held == nullptr || held->m_bSummarised) {
        return;
    }
    // Logged from outside the hold, or each line would be taken again.
    const std::vector<std::string> lines = std::exchange(held->m_aLines, {});
    t_pHeld = nullptr;
    for (const std::string& line : lines) {
        log_activity_text(line);
    }
    t_pHeld = held->m_pPrevious;
}

void held_log_lines::summarise(std::string_view line) {
    held_log_lines* const held = t_pHeld;
    if (held != nullptr) {
        held->m_aLines.clear();
        held->m_bSummarised = true;
    }
    if (is_activity_logging()) {
        activity_console().add_line(line);
    }
}

bool held_log_lines::takes(std::string_view line) {
    if (t_pHeld == nullptr) {
        return false;
    }
    if (!t_pHeld->m_bSummarised) {
        t_pHeld->m_aLines.emplace_back(line);
    }
    return true;
}

message_console& activity_console() {
    // Deliberately never destroyed: worker threads may still log while static objects are torn down.
    static message_console* const pConsole = new message_console();
    return *pConsole;
}

void log_activity(const char* format, ...) {
    if (!is_activity_logging()) {
        return;
    }
    // A buffer per call rather than one shared buffer, so formatting needs no lock.
    char aLine[message_console::max_line_length + 1];
    va_list args;
    va_start(args, format);
    const int nFormatted = std::vsnprintf(aLine, sizeof aLine, format, args);
    va_end(args);
    const std::size_t nLength =
        nFormatted < 0 ? 0 : std::min(static_cast<std::size_t>(nFormatted), message_console::max_line_length);
    log_activity_text(std::string_view(aLine, nLength));
}

void log_activity_text(std::string_view strLine) {
    if (!is_activity_logging() || held_log_lines::takes(strLine)) {
        return;
    }
    activity_console().add_line(strLine);
}

bool open_activity_log(const std::string& path) {
    return activity_console().open_log(path);
}

void close_activity_log() {
    activity_console().close_log();
}

} // namespace tiv
