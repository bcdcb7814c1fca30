#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tiv {

// The name a received file is written under until it is complete: ".<uuid>.quorvel-part". The leading dot keeps it
// out of a plain listing; the fixed shape lets a start-up sweep tell our own leftovers from anything a user put in
// the parcel box, and lets the friend's file count pass them over.
[[nodiscard]] std::string temporary_parcel_name();
// Whether `name` (a last component) has exactly the shape temporary_parcel_name gives.
[[nodiscard]] bool is_temporary_parcel_name(std::string_view name);

// The name under which a receiver keeps the part of a file whose transfer broke, until the same file is sent again:
// ".<key>.quorvel-keep", where `key` is 32 lowercase hexadecimal digits naming the file (see kept_part_key). The
// shape keeps it out of a plain listing, out of the friend's file count and away from the start-up sweep of
// temporaries, which would otherwise throw away what a resume needs.
[[nodiscard]] std::string kept_part_name(std::string_view key);
// Whether `name` (a last component) has exactly the shape kept_part_name gives.
[[nodiscard]] bool is_kept_part_name(std::string_view name);

// The name a received file may be stored under: the last component of what the sender sent ('/' and '\' both
// separate), with every control character, bidirectional override and broken UTF-8 byte replaced (see
// replaced_text). None for a name that is empty, nothing but such characters, "." or "..", so a parcel can never be
// written outside its parcel box, and none for a name shaped like our temporary files, which would be neither
// counted nor kept, and none for a kept part's shape either.
[[nodiscard]] std::optional<std::string> parcel_file_name(std::string_view sent);

// Whether `name` is one plain directory name, fit to be joined below the parcel box root: not empty, not "." or
// "..", no '/' or '\', nothing that replaced_text would replace.
[[nodiscard]] bool is_plain_component(std::string_view name);

// The n-th numbered variant of a name: "report(3).txt" (counted before the first '.') or "README(3)"; n = 0 is the
// name itself. The stem is shortened when the result would not fit a file name (255 bytes).
[[nodiscard]] std::string numbered_name(const std::string& name, std::uint64_t n);

// Moves `temporary` into `directory` under `name` or the first numbered variant that does not exist, atomically:
// an existing file is never replaced, also not by a receiver finishing at the same moment. The path it got, or none
// when the move failed (the temporary file is then left where it was).
[[nodiscard]] std::optional<std::string> move_without_replacing(const std::string& temporary,
                                                                const std::string& directory, const std::string& name);
// The same between directories open as `from_dir` and `to_dir` (which may be one), from the entry `from_name`, so no
// path above them is looked up again (a received folder whose parents a peer could not swap for links). `to_path`
// only makes the full path returned, for log lines.
[[nodiscard]] std::optional<std::string> move_without_replacing_at(int from_dir, const std::string& from_name,
                                                                   int to_dir, const std::string& to_path,
                                                                   const std::string& name);

} // namespace tiv
