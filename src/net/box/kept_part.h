#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_writer.h"
#include "core/time_source.h"
#include "core/unique_fd.h"
#include "platform/sha256_stream.h"

namespace tiv {

// Names a file as its sender describes it, so the kept part of a broken transfer is found again only for the same
// file: 32 lowercase hexadecimal digits of a SHA-256 over the relative path (length first, so no path and size can
// pass for another), the size and the modification time. Empty when the hash could not be made; kept_part::open
// refuses an empty key.
[[nodiscard]] std::string kept_part_key(std::string_view relative_path, std::uint64_t size, std::int64_t mtime_ns);

// What a receiver keeps of a file whose transfer broke, held by one transfer at a time. The hold is an advisory lock
// (flock) on a descriptor of its own, as a temporary file's claim is: it outlasts every writer's close and ends with
// this object or the process, however the process ends, so the sweep of expired parts never takes one in use.
class kept_part {
public:
    kept_part(const kept_part&) = delete;
    kept_part& operator=(const kept_part&) = delete;
    kept_part(kept_part&&) noexcept = default;
    kept_part& operator=(kept_part&&) noexcept = default;
    ~kept_part() = default;

    // Opens, or creates (0600) when missing, the kept part named kept_part_name(key) in the directory `dir_fd`
    // (shown as `dir_path`) and holds it. Never through a symbolic link, never anything but a regular file with a
    // single name. None when another transfer, in this process or another, holds it ("another transfer holds ..."),
    // or when it cannot be had; `why` says which, for the activity log.
    [[nodiscard]] static std::optional<kept_part> open(int dir_fd, const std::string& dir_path, std::string_view key,
                                                       std::string& why);

    // The bytes kept; 0 when the file cannot be examined, so a resume then starts from nothing.
    [[nodiscard]] std::uint64_t length() const;
    // Feeds the first length() bytes, as they are when called, to `hasher`; false on a read error, on a file that
    // has become shorter meanwhile, or when `hasher` has failed.
    [[nodiscard]] bool hash_into(cryptoapi::sha256_stream& hasher) const;
    // Drops what was kept, for a sender whose hash of the same bytes disagrees.
    [[nodiscard]] bool discard();
    // A new descriptor of the kept part, opened through `files` for writing and positioned at its end; none when
    // it cannot be had or the name no longer leads to this file.
    [[nodiscard]] unique_fd writer(file_writer& files) const;
    // Unlinks the kept part, once its file is complete or given up, but only while its name still leads to this very
    // file. The hold stays until this object ends.
    [[nodiscard]] bool remove();

    [[nodiscard]] const std::string& path() const { return m_strPath; }
    [[nodiscard]] const std::string& name() const { return m_strName; }

private:
    kept_part(unique_fd directory, unique_fd file, std::string name, std::string path);

    // Whether the name in the directory still leads to the file held.
    [[nodiscard]] bool still_named() const;

    unique_fd m_oDirectory; // a duplicate: the caller's descriptor may close before this object ends
    unique_fd m_oFile;      // read and write, and the one the lock is on
    std::string m_strName;
    std::string m_strPath;
};

// The smallest file whose broken transfer leaves a kept part: anything less is sent again whole at little cost, and a
// part of it would take a place among the few a friend may have kept.
inline constexpr std::uint64_t min_kept_file_size = 1024 * 1024;
// Kept parts a friend's box holds at most; keeping another lets go of the one written longest ago.
inline constexpr std::size_t max_kept_parts = 8;

// Makes room for the part named `current`, just kept in the friend's box `box_fd` (shown as `box_path`): removes
// the parts there that no transfer holds and that are larger than `largest` bytes, or beyond the max_kept_parts most
// recently written (`current` counted among them, whatever its time). Each one removed is logged. The paths removed.
std::vector<std::string> trim_kept_parts(int box_fd, const std::string& box_path, std::string_view current,
                                         std::uint64_t largest);

// Removes kept parts that are older than `max_age` (since last written, as `clock` tells the time now) and that no
// transfer holds, from the parcel box root, each friend's parcel box below it and the folders below those, never
// through a symbolic link and never deeper than 32 levels. Nothing but a regular file of the kept part's exact shape
// is touched; each one removed is logged. A max_age of 0 removes every one not held. The paths removed.
std::vector<std::string> remove_expired_kept_parts(const std::string& parcel_root, std::chrono::seconds max_age,
                                                   const time_source& clock = real_time());

} // namespace tiv
