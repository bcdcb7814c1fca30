#include "net/box/parcel_names.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/outside_text.h"
#include "platform/uuid.h"
#include "settings/identity.h"

namespace tiv {

namespace {
constexpr std::size_t max_component = 255;
constexpr std::string_view temporary_prefix = ".";
constexpr std::string_view temporary_suffix = ".quorvel-part";
constexpr std::string_view kept_suffix = ".quorvel-keep";
constexpr std::size_t kept_key_length = 32;
// Far beyond any real parcel box; only there so a directory that refuses everything cannot loop for ever.
constexpr std::uint64_t max_number = 10'000'000;

// Where the file system cannot rename without replacing, a hard link does the same: it fails on an existing name.
int link_then_unlink(int from_directory, const std::string& from, int to_directory, const std::string& to) {
    if (::linkat(from_directory, from.c_str(), to_directory, to.c_str(), 0) != 0) {
        return errno;
    }
    ::unlinkat(from_directory, from.c_str(), 0);
    return 0;
}

int move_exclusive(int from_directory, const std::string& from, int to_directory, const std::string& to) {
    if (::renameat2(from_directory, from.c_str(), to_directory, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    const int error = errno;
    return (error == EINVAL || error == ENOSYS || error == ENOTSUP)
               ? link_then_unlink(from_directory, from, to_directory, to)
               : error;
}

// Whether something stands under `name` already, as far as a look can tell; a name that cannot be looked at is as
// good as taken.
bool name_taken(int directory, const std::string& name) {
    struct stat info {};
    return ::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

// A number from `from` on whose variant of `name` looks free: the taken ones are passed in doubling strides, then
// the gap narrowed by halves, so a thousand files of one name cost a few looks each rather than a thousand.
// max_number + 1 when none is.
std::uint64_t free_number(int directory, const std::string& prefix, const std::string& name, std::uint64_t from) {
    const auto taken = [&](std::uint64_t n) { return name_taken(directory, prefix + numbered_name(name, n)); };
    if (!taken(from)) {
        return from;
    }
    std::uint64_t last_taken = from;
    std::uint64_t stride = 1;
    std::uint64_t first_free = 0;
    for (;;) {
        if (stride > max_number - last_taken) {
            return max_number + 1;
        }
        if (!taken(last_taken + stride)) {
            first_free = last_taken + stride;
            break;
        }
        last_taken += stride;
        stride *= 2;
    }
    while (first_free - last_taken > 1) {
        const std::uint64_t middle = last_taken + (first_free - last_taken) / 2;
        (taken(middle) ? last_taken : first_free) = middle;
    }
    return first_free;
}

// The name (relative to `to_directory`, behind `to_prefix`) the file got, trying `name` and its numbered variants.
// The look only guides: the move itself never replaces, and a name taken since the look sends it on.
std::optional<std::string> move_numbered(int from_directory, const std::string& from, int to_directory,
                                         const std::string& to_prefix, const std::string& name) {
    for (std::uint64_t n = free_number(to_directory, to_prefix, name, 0); n <= max_number;
         n = free_number(to_directory, to_prefix, name, n + 1)) {
        std::string candidate = to_prefix + numbered_name(name, n);
        const int error = move_exclusive(from_directory, from, to_directory, candidate);
        if (error == 0) {
            return candidate;
        }
        if (error != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Cuts a stem so that stem + suffix fits a file name, never in the middle of a UTF-8 sequence.
std::string fit_stem(std::string stem, std::size_t suffix_length) {
    const std::size_t room = suffix_length < max_component ? max_component - suffix_length : 0;
    if (stem.size() <= room) {
        return stem;
    }
    stem.resize(room);
    while (!stem.empty() && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80) {
        stem.pop_back();
    }
    if (!stem.empty() && (static_cast<unsigned char>(stem.back()) & 0x80) != 0) {
        stem.pop_back();
    }
    return stem;
}
} // namespace

std::string temporary_parcel_name() {
    return std::string(temporary_prefix) + create_uuid_text() + std::string(temporary_suffix);
}

bool is_temporary_parcel_name(std::string_view name) {
    if (!name.starts_with(temporary_prefix) || !name.ends_with(temporary_suffix)) {
        return false;
    }
    name.remove_prefix(temporary_prefix.size());
    name.remove_suffix(temporary_suffix.size());
    return uuid_from_text(name).has_value();
}

std::string kept_part_name(std::string_view key) {
    return std::string(temporary_prefix) + std::string(key) + std::string(kept_suffix);
}

bool is_kept_part_name(std::string_view name) {
    if (!name.starts_with(temporary_prefix) || !name.ends_with(kept_suffix)) {
        return false;
    }
    name.remove_prefix(temporary_prefix.size());
    name.remove_suffix(kept_suffix.size());
    return name.size() == kept_key_length && name.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::optional<std::string> parcel_file_name(std::string_view sent) {
    const std::size_t cut = sent.find_last_of("/\\");
    const std::string_view last = cut == std::string_view::npos ? sent : sent.substr(cut + 1);
    // Replaced rather than dropped, so a name that had something to hide still shows where it was.
    const std::string name = replaced_text(last);
    // A name that was nothing but what got replaced never named anything.
    const bool only_replaced =
        name.find_first_not_of('_') == std::string::npos && last.find('_') == std::string_view::npos;
    if (name.empty() || only_replaced || name == "." || name == ".." || is_temporary_parcel_name(name) ||
        is_kept_part_name(name)) {
        return std::nullopt;
    }
    return name;
}

bool is_plain_component(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string_view::npos &&
           is_tame_text(name);
}

std::string numbered_name(const std::string& name, std::uint64_t n) {
    if (n == 0) {
        return name;
    }
    const std::size_t dot = name.find('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    std::string counter(1, '(');
    counter += std::to_string(n);
    counter += ')';
    std::string tail = counter + extension;
    if (tail.size() > max_component) {
        // An extension too long to keep whole gives way first; the counter always stays.
        tail = counter + extension.substr(0, max_component - counter.size());
    }
    return fit_stem(stem, tail.size()) + tail;
}

std::optional<std::string> move_without_replacing(const std::string& temporary, const std::string& directory,
                                                  const std::string& name) {
    return move_numbered(AT_FDCWD, temporary, AT_FDCWD, directory + "/", name);
}

std::optional<std::string> move_without_replacing_at(int from_dir, const std::string& from_name, int to_dir,
                                                     const std::string& to_path, const std::string& name) {
    auto moved = move_numbered(from_dir, from_name, to_dir, std::string(), name);
    if (!moved) {
        return std::nullopt;
    }
    return to_path + "/" + *moved;
}

} // namespace tiv
