#include "net/stream/folder_listing.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <utility>

#include "core/outside_text.h"
#include "core/unique_fd.h"
#include "net/single_file/transfer_file.h"
#include "net/stream/received_folder.h"

namespace tiv {

namespace {
constexpr int directory_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string last_component(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The names in `directory` (which it takes), sorted; none when it cannot be read to the end.
std::optional<std::vector<std::string>> sorted_names(unique_fd directory) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(directory.get()), ::closedir);
    if (listing == nullptr) {
        return std::nullopt;
    }
    (void)directory.release();
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing.get());
        if (entry == nullptr) {
            if (errno != 0) {
                return std::nullopt;
            }
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class folder_walk {
public:
    folder_walk(folder_listing& listing, std::string& why) : m_oListing(listing), m_strWhy(why) {}

    // `prefix`: the relative path of `directory` with a trailing '/', empty for the top; `depth`: its components.
    bool walk(unique_fd directory, const std::string& prefix, std::size_t depth) {
        const int fd = directory.get();
        // The names are read through a second description, so `directory` stays ours for the fstatat and openat
        // below.
        const auto names = sorted_names(unique_fd(::openat(fd, ".", directory_flags)));
        if (!names) {
            const int error = errno;
            m_strWhy = "cannot read the folder " + shown(prefix) + ": " + std::strerror(error);
            return false;
        }
        if (!names->empty() && depth == max_folder_depth) {
            m_strWhy =
                "the folder goes more than " + std::to_string(max_folder_depth) + " levels deep at " + shown(prefix);
            return false;
        }
        for (const std::string& name : *names) {
            const std::string relative = prefix + name;
            if (relative.size() > max_relative_path_bytes) {
                m_strWhy = "a path in the folder is over " + std::to_string(max_relative_path_bytes) +
                           " bytes: " + replaced_text(relative.substr(0, 200)) + "...";
                return false;
            }
            struct stat info {};
            if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
                continue; // gone since it was listed
            }
            if (S_ISLNK(info.st_mode)) {
                m_oListing.skipped.push_back(replaced_text(relative) + ": symbolic link, not followed");
                continue;
            }
            if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) {
                m_oListing.skipped.push_back(replaced_text(relative) + ": not a regular file");
                continue;
            }
            // A name the receiver would refuse is left out here, where the sender can still see why.
            std::string refusal;
            if (!parcel_path_components(relative, refusal)) {
                m_oListing.skipped.push_back(replaced_text(relative) + ": " + refusal);
                continue;
            }
            if (S_ISREG(info.st_mode)) {
                const auto size = static_cast<std::uint64_t>(info.st_size);
                m_oListing.files.push_back(
                    {relative, size,
                     static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec});
                m_oListing.total_bytes += size;
                continue;
            }
            m_oListing.directories.push_back(relative);
            unique_fd inside(::openat(fd, name.c_str(), directory_flags));
            if (!inside) {
                const int error = errno;
                m_strWhy = "cannot read the folder " + shown(relative + "/") + ": " + std::strerror(error);
                return false;
            }
            if (!walk(std::move(inside), relative + "/", depth + 1)) {
                return false;
            }
        }
        return true;
    }

private:
    // A relative prefix for a log line, the top folder by its name.
    std::string shown(const std::string& prefix) const {
        return replaced_text(prefix.empty() ? m_oListing.top_name : m_oListing.top_name + "/" + prefix);
    }

    folder_listing& m_oListing;
    std::string& m_strWhy;
};
} // namespace

std::optional<folder_listing> list_folder(const std::string& path, std::string& why) {
    // A trailing '/' would make the lookup follow a link at the end after all.
    const std::string top = without_trailing_separator(path);
    unique_fd directory(::open(top.c_str(), directory_flags));
    if (!directory) {
        const int error = errno;
        struct stat info {};
        if (::lstat(top.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            why = replaced_text(path) + " is a symbolic link, not followed";
        } else if (error == ENOTDIR) {
            why = replaced_text(path) + " is not a directory";
        } else {
            why = "cannot open the folder " + replaced_text(path) + ": " + std::strerror(error);
        }
        return std::nullopt;
    }
    folder_listing listing;
    listing.top_name = last_component(top);
    if (listing.top_name.empty() || listing.top_name == "." || listing.top_name == "..") {
        // "." or "..": the name is the one the directory really has.
        const std::unique_ptr<char, void (*)(void*)> real(::realpath(top.c_str(), nullptr), std::free);
        listing.top_name = real == nullptr ? std::string() : last_component(real.get());
    }
    std::string refusal;
    if (!parcel_path_components(listing.top_name, refusal)) {
        why = "the folder " + replaced_text(path) + " has no name a receiver could create: " + refusal;
        return std::nullopt;
    }
    folder_walk walk(listing, why);
    if (!walk.walk(std::move(directory), std::string(), 0)) {
        return std::nullopt;
    }
    return listing;
}

} // namespace tiv
