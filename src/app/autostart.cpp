#include "app/autostart.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"

namespace tiv::app {

namespace {
constexpr const char* entry_name = "quorvel.desktop";
// An Exec argument holding one of these is quoted.
constexpr std::string_view reserved_characters = " \t\"'\\><~|&;$*?#()`";
// Within quotes, these still take a backslash.
constexpr std::string_view quoted_escapes = "\"`$\\";

status entry_failure(const std::string& path, const char* what, int error) {
    return {status_code::io_failure,
            "the login entry " + path + " could not be " + what + ": " + std::strerror(error) + "."};
}

std::string exec_argument(const std::string& word) {
    if (word.find_first_of(reserved_characters) == std::string::npos) {
        return word;
    }
    std::string quoted = "\"";
    for (const char c : word) {
        if (quoted_escapes.find(c) != std::string_view::npos) {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + '"';
}

// Every value of a desktop entry is a string whose backslashes escape: one that stands for itself is doubled. In
// Exec, a percent that is no field code is doubled as well.
std::string escaped(const std::string& text, bool exec) {
    std::string value;
    for (const char c : text) {
        if (c == '\\' || (exec && c == '%')) {
            value += c;
        }
        value += c;
    }
    return value;
}

bool has_control_character(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return true;
        }
    }
    return false;
}

std::string entry_text(const std::string& program, const std::string& exec) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quorvel\n"
           "Comment=Receive parcels from your friends from the moment you log in\n"
           "Icon=quorvel\n"
           "Exec=" +
           exec + "\nTryExec=" + escaped(program, false) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

// Writes all of `text`, resuming after short writes and signals; false with errno set.
bool write_whole(file_writer& files, int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = files.write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            errno = written == 0 ? EIO : errno;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}
} // namespace

std::string autostart_entry_path() {
    return paths::autostart_directory() + "/" + entry_name;
}

bool starts_at_login() {
    struct stat info {};
    return ::lstat(autostart_entry_path().c_str(), &info) == 0;
}

result<std::string> autostart_exec_line(const std::string& program) {
    if (program.empty() || program.front() != '/' || has_control_character(program)) {
        return status(status_code::invalid, "the program " + program + " cannot be started from a login entry.");
    }
    return escaped(exec_argument(program) + " --minimized", true);
}

status start_at_login(const std::string& program, file_writer& files) {
    const result<std::string> exec = autostart_exec_line(program);
    if (!exec) {
        return exec.error();
    }
    const std::string directory = paths::autostart_directory();
    const std::string path = directory + "/" + entry_name;
    if (!paths::make_directories(directory)) {
        return entry_failure(path, "written, its folder could not be made", errno);
    }
    // The entry takes its name only once it is whole on disk, so the session never starts from half of one.
    std::string temporary = directory + "/.quorvel.desktop-XXXXXX";
    unique_fd file(::mkstemp(temporary.data()));
    if (!file) {
        return entry_failure(path, "written", errno);
    }
    int error = 0;
    if (!write_whole(files, file.get(), entry_text(program, *exec)) || ::fchmod(file.get(), 0644) != 0 ||
        files.sync(file.get()) != 0) {
        error = errno;
    }
    if (files.close(std::move(file)) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
        return entry_failure(path, "written", error);
    }
    return {};
}

status stop_starting_at_login() {
    const std::string path = autostart_entry_path();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return entry_failure(path, "removed", errno);
    }
    return {};
}

} // namespace tiv::app
