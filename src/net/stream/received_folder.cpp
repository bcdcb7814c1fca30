#include "net/stream/received_folder.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <utility>

#include "core/outside_text.h"
#include "net/box/parcel_names.h"
#include "net/box/parcel_tree_walk.h"
#include "net/single_file/transfer_file.h"

namespace tiv {

namespace {
// Beyond any real box; only there so a directory that refuses every name cannot loop for ever.
constexpr std::uint64_t max_sibling_number = 100'000;
constexpr int directory_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Why a plain name refused as a folder level could not be opened: a link is the case worth naming.
std::string open_failure(int parent, const std::string& name, int error) {
    struct stat info {};
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(info.st_mode)) {
            return "is a symbolic link, not followed";
        }
        if (!S_ISDIR(info.st_mode)) {
            return "is not a directory";
        }
    }
    return std::string("cannot be opened: ") + std::strerror(error);
}

// Removes the directories below `directory`, deepest first, each once empty; what is not a directory stays and is
// added to `stayed` as `shown`/name. Read whole before anything is removed, so the listing never skips a name.
void remove_directories_below(unique_fd directory, const std::string& shown, std::size_t levels,
                              std::vector<std::string>& stayed) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(directory ? ::fdopendir(directory.get()) : nullptr, ::closedir);
    if (listing == nullptr) {
        return;
    }
    (void)directory.release();
    const int fd = ::dirfd(listing.get());
    std::vector<std::string> directories;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (name == "." || name == "..") {
            continue;
        }
        if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode) && levels > 0) {
            directories.push_back(name);
        } else {
            stayed.push_back(shown + "/" + name);
        }
    }
    for (const std::string& name : directories) {
        remove_directories_below(unique_fd(::openat(fd, name.c_str(), directory_flags)), shown + "/" + name, levels - 1,
                                 stayed);
        if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOTEMPTY && errno != EEXIST) {
            stayed.push_back(shown + "/" + name);
        }
    }
}

std::optional<std::string> component_refusal(std::string_view component) {
    if (component.empty()) {
        return "has an empty component";
    }
    if (component == "." || component == "..") {
        return "has a '.' or '..' component";
    }
    if (component.size() > max_component_bytes) {
        return "has a component over " + std::to_string(max_component_bytes) + " bytes";
    }
    if (!is_plain_component(component)) {
        return "has a component with a control or hidden character: " + replaced_text(component);
    }
    if (is_temporary_parcel_name(component) || is_kept_part_name(component)) {
        return "has a component shaped like a temporary file of ours";
    }
    return std::nullopt;
}
} // namespace

std::optional<std::vector<std::string>> parcel_path_components(std::string_view sent, std::string& why) {
    if (sent.empty()) {
        why = "the path is empty";
        return std::nullopt;
    }
    if (sent.size() > max_relative_path_bytes) {
        why = "the path is over " + std::to_string(max_relative_path_bytes) + " bytes";
        return std::nullopt;
    }
    if (sent.front() == '/') {
        why = "the path is absolute";
        return std::nullopt;
    }
    // Refused rather than taken as a separator: a name that means one place here and another on the sender's side
    // is not worth guessing at.
    if (sent.find('\\') != std::string_view::npos) {
        why = "the path has a backslash";
        return std::nullopt;
    }
    std::vector<std::string> components;
    for (std::size_t start = 0;;) {
        const std::size_t slash = sent.find('/', start);
        const std::string_view component =
            sent.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (const auto refusal = component_refusal(component)) {
            why = "the path " + *refusal;
            return std::nullopt;
        }
        if (components.size() == max_folder_depth) {
            why = "the path is more than " + std::to_string(max_folder_depth) + " levels deep";
            return std::nullopt;
        }
        components.emplace_back(component);
        if (slash == std::string_view::npos) {
            return components;
        }
        start = slash + 1;
    }
}

received_folder::received_folder(unique_fd box, unique_fd directory, std::string path, std::string name)
    : m_oBox(std::move(box)), m_oDirectory(std::move(directory)), m_strPath(std::move(path)),
      m_strName(std::move(name)) {}

std::optional<received_folder> received_folder::create(const std::string& box_path, const std::string& name,
                                                       std::string& why) {
    if (const auto refusal = component_refusal(name)) {
        why = "the folder name " + *refusal;
        return std::nullopt;
    }
    unique_fd box(::open(box_path.c_str(), directory_flags));
    if (!box) {
        const int error = errno;
        why = "cannot open the parcel box " + box_path + ": " + std::strerror(error);
        return std::nullopt;
    }
    const std::string shown_box = without_trailing_separator(box_path);
    for (std::uint64_t n = 0; n <= max_sibling_number; n = n == 0 ? 2 : n + 1) {
        std::string candidate = numbered_name(name, n);
        if (::mkdirat(box.get(), candidate.c_str(), 0700) != 0) {
            const int error = errno;
            if (error == EEXIST) {
                continue;
            }
            why = "cannot make the folder " + shown_box + "/" + candidate + ": " + std::strerror(error);
            return std::nullopt;
        }
        unique_fd folder(::openat(box.get(), candidate.c_str(), directory_flags));
        if (!folder) {
            const int error = errno;
            // Replaced between the two calls: whatever is there now is not ours to write into.
            why = "the folder " + shown_box + "/" + candidate + " " + open_failure(box.get(), candidate, error);
            return std::nullopt;
        }
        std::string path = shown_box + "/" + candidate;
        return received_folder(std::move(box), std::move(folder), std::move(path), std::move(candidate));
    }
    why = "every numbered name for the folder " + shown_box + "/" + name + " is taken";
    return std::nullopt;
}

unique_fd received_folder::directory(std::span<const std::string> components, std::string& why) {
    if (components.size() > max_folder_depth) {
        why = "the folder is more than " + std::to_string(max_folder_depth) + " levels deep";
        return unique_fd();
    }
    // A description of its own, so a caller reading or closing it never disturbs ours.
    unique_fd level(::openat(m_oDirectory.get(), ".", directory_flags));
    if (!level) {
        const int error = errno;
        why = "cannot open the folder " + m_strPath + ": " + std::strerror(error);
        return unique_fd();
    }
    std::string shown = m_strPath;
    for (const std::string& component : components) {
        if (const auto refusal = component_refusal(component)) {
            why = "the path below " + shown + " " + *refusal;
            return unique_fd();
        }
        shown += "/" + component;
        if (::mkdirat(level.get(), component.c_str(), 0700) != 0 && errno != EEXIST) {
            const int error = errno;
            why = "cannot make the folder " + shown + ": " + std::strerror(error);
            return unique_fd();
        }
        unique_fd next(::openat(level.get(), component.c_str(), directory_flags));
        if (!next) {
            const int error = errno;
            why = shown + " " + open_failure(level.get(), component, error);
            return unique_fd();
        }
        level = std::move(next);
    }
    return level;
}

std::vector<std::string> received_folder::remove_directories() {
    std::vector<std::string> stayed;
    remove_directories_below(unique_fd(::openat(m_oDirectory.get(), ".", directory_flags)), m_strName, max_folder_depth,
                             stayed);
    // Only the very directory made: one put under its name since is somebody else's.
    struct stat ours {};
    struct stat named {};
    if (::fstat(m_oDirectory.get(), &ours) == 0 &&
        ::fstatat(m_oBox.get(), m_strName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(ours, named)) {
        (void)::unlinkat(m_oBox.get(), m_strName.c_str(), AT_REMOVEDIR);
    }
    return stayed;
}

} // namespace tiv
