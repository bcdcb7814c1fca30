#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/file_writer.h"
#include "core/unique_fd.h"

namespace tiv {

// The local file of a transfer: read whole by a sender, written by a receiver. Counts are 64-bit, so files over
// 4 GiB are read and written like any other. A written file is opened, written and closed through a file_writer,
// the real calls unless another was given. One thread uses an object at a time.
class transfer_file {
public:
    enum open_mode : int { closed = 0, reading = 1, writing = 2 };

    transfer_file() = default;
    transfer_file(const transfer_file&) = delete;
    transfer_file& operator=(const transfer_file&) = delete;

    // Closes an open file first. `name` starting with '/' is a full path; any other is taken below `directory`.
    // Mode `writing` creates a new file (0600) and refuses one that exists, so a name never leads into another
    // file or through a link; any other mode opens an existing regular file for reading and refuses anything else
    // at once, without waiting on a FIFO's writer.
    [[nodiscard]] bool open_file(const std::string& name, int open_mode);
    // Closes an open file first, then writes to `fd`, opened elsewhere (inside a received folder, or a kept part
    // being continued), at its current offset; `size` starts at `already_written`. `path` names it in log lines.
    // An invalid `fd` leaves the file closed.
    void adopt_for_writing(unique_fd fd, std::string path, std::uint64_t already_written);
    // Up to n bytes; 0 at the end of the file or when not reading; -1 on a read error.
    [[nodiscard]] std::int64_t read_chunk(void* buffer, std::size_t n);
    // Writes all n bytes, adding them to `size`; false when not writing or a write fails (a full disk).
    [[nodiscard]] bool write_all(const void* buffer, std::size_t n);
    // False when closing a written file reports an error: its data may not all have reached the disk.
    [[nodiscard]] bool close_file();
    // Reading: goes back (or on) to `offset`, from where the next read_chunk reads; false when not reading.
    [[nodiscard]] bool seek_to(std::uint64_t offset);
    // What files are written through from now on; given before a file is opened for writing.
    void use_writer(std::shared_ptr<file_writer> writer) { m_pWriter = std::move(writer); }
    // Also what the descriptors given to adopt_for_writing are opened through.
    [[nodiscard]] file_writer& writer() const { return *m_pWriter; }

    std::uint64_t size = 0;      // reading: the size when opened; writing: bytes written so far
    std::uint64_t done = 0;      // reading: bytes read so far
    std::uint64_t remaining = 0; // reading: bytes not yet read
    std::int64_t mtime_ns = 0;   // reading: the modification time when opened
    int mode = closed;
    std::string directory = "."; // for relative names, without a trailing separator
    std::string path;            // the file last opened

private:
    unique_fd m_oHandle;
    std::shared_ptr<file_writer> m_pWriter = shared_real_file_writer();
};

// `directory` without trailing '/' or '\' (a root of nothing but separators stays "/").
[[nodiscard]] std::string without_trailing_separator(std::string directory);

} // namespace tiv
