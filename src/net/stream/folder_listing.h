#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tiv {

// What a folder holds, as a sender offers it: relative paths ('/'-separated, below the folder) in a stable order.
struct folder_listing {
    std::string top_name; // the folder's own name, what the receiver creates it under
    // Every directory inside, empty ones included, parents before what they hold.
    std::vector<std::string> directories;
    struct file {
        std::string relative;
        std::uint64_t size = 0;
        std::int64_t mtime_ns = 0;
    };
    std::vector<file> files;
    // Entries not sent, each as its relative path + ": symbolic link, not followed" or ": not a regular file" (or why
    // a receiver would refuse its name), for the sender's log.
    std::vector<std::string> skipped;
    std::uint64_t total_bytes = 0;
};

// Lists the folder at `path` without following any link inside it, names sorted byte-wise at each level. None, with
// `why`, when `path` is a link or no directory, a directory inside cannot be read, or the tree goes deeper than
// max_folder_depth or past the path limits a receiver holds to.
[[nodiscard]] std::optional<folder_listing> list_folder(const std::string& path, std::string& why);

} // namespace tiv
