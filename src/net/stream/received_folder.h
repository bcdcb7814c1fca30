#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/unique_fd.h"

namespace tiv {

// How far a sent folder may reach: levels below the folder itself, bytes in one name (what Linux file systems hold)
// and bytes in a whole relative path (PATH_MAX). A peer's tree beyond them is refused, not cut.
inline constexpr std::size_t max_folder_depth = 32;
inline constexpr std::size_t max_component_bytes = 255;
inline constexpr std::size_t max_relative_path_bytes = 4096;

// The components of a relative path as a peer sent it inside a folder, '/'-separated; none (and `why`, in words for
// a log line) for anything that could leave the folder or land on a name of ours: empty, absolute, an empty, "."
// or ".." component, a backslash, a component is_plain_component refuses or shaped like a temporary or kept part,
// or beyond the limits above.
[[nodiscard]] std::optional<std::vector<std::string>> parcel_path_components(std::string_view sent, std::string& why);

// A folder received into a friend's parcel box: always a new directory right below the box, never merged into one
// that exists. Everything below it is reached from its open descriptor one level at a time without following a
// link, so a peer, or anyone else writing there meanwhile, cannot redirect a write out of it.
class received_folder {
public:
    received_folder(const received_folder&) = delete;
    received_folder& operator=(const received_folder&) = delete;
    received_folder(received_folder&&) noexcept = default;
    received_folder& operator=(received_folder&&) noexcept = default;
    ~received_folder() = default;

    // Makes `name` (or "name(2)", "name(3)"... when taken) in the box at `box_path`, which must itself be a
    // directory and not a link. None, with `why`, when `name` is not one plain component or nothing could be made.
    [[nodiscard]] static std::optional<received_folder> create(const std::string& box_path, const std::string& name,
                                                               std::string& why);

    // The directory at `components` below the folder (the folder itself for none), each missing level made (0700).
    // Invalid, with `why`, when a level is a link, not a directory, not a plain name or cannot be made or opened.
    [[nodiscard]] unique_fd directory(std::span<const std::string> components, std::string& why);

    // Takes back a refused folder: removes it and every directory below it, deepest first, each only once empty, so
    // whatever else is in it stays: the paths of those, relative to the box. Nothing but this folder, made by us,
    // is removed, and never through a link.
    [[nodiscard]] std::vector<std::string> remove_directories();

    // box_path + "/" + the chosen name.
    [[nodiscard]] const std::string& path() const { return m_strPath; }
    // The chosen name, numbered when the one sent was taken.
    [[nodiscard]] const std::string& name() const { return m_strName; }

private:
    received_folder(unique_fd box, unique_fd directory, std::string path, std::string name);

    unique_fd m_oBox; // where the folder was made, to take it back from
    unique_fd m_oDirectory;
    std::string m_strPath;
    std::string m_strName;
};

} // namespace tiv
