#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/file_writer.h"
#include "core/unique_fd.h"
#include "platform/crypto_backend/crypto_backend_outcome.h"
#include "platform/crypto_backend/openssl_util.h"

// Private files inside a key container directory: nothing is used unless only its owner can reach it,
// and nothing is replaced except whole, on disk, in one rename.
namespace tiv::cryptoapi {

// Opens `path` as a directory that is no symbolic link, belongs to this user and is closed to group and
// others. A missing directory gives bad_keyset; any other fault gives permission with the reason.
outcome open_private_directory(const std::string& path, unique_fd& out);

// True when `name` exists in the directory (whatever its state; reading it decides whether it is usable).
[[nodiscard]] bool private_file_exists(const unique_fd& directory, const std::string& name);

// Reads a regular file that is no symbolic link, belongs to this user and has no group or other access
// (permission otherwise, with the reason); a missing file gives no_key. `shown_path` names it in errors.
outcome read_private_file(const unique_fd& directory, const std::string& name, const std::string& shown_path,
                          secure_bytes& out);

// Replaces `name` with `data` so that a crash leaves either the old or the new file: a fresh 0600
// temporary file (never following a link), written, flushed to disk, renamed over the old name, and the
// directory flushed so the rename itself survives. The file is written and flushed through `files`.
outcome write_private_file(const unique_fd& directory, const std::string& name, std::span<const std::uint8_t> data,
                           file_writer& files = real_file_writer());

} // namespace tiv::cryptoapi
