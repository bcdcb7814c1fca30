#pragma once

// How SQLite locks the hives. Its unix VFS takes POSIX record locks, which belong to the process and all vanish
// when any descriptor of the same file closes, whoever opened it: a file chooser reading the settings folder to
// guess types, a settings file sent to a friend. Another program then finds the hive unused, folds the journal
// into the file and deletes it under us, and every later write of ours goes to a deleted file.
namespace tiv::reg::locks {

// Makes SQLite lock through open file description locks (F_OFD_SETLK) instead: they belong to the descriptor
// SQLite opened and go only with it, and other processes see them as any POSIX lock, so programs and SQLite
// builds that still use POSIX locks exclude us as before. A descriptor inherited through fork() is shared with
// the parent, where a lock of one would count for both, so on descriptors this process did not open itself the
// locks stay POSIX. Must run before this process opens its first database; false when SQLite cannot be set so.
[[nodiscard]] bool lock_by_open_description();

} // namespace tiv::reg::locks
