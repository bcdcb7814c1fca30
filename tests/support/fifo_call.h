#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace tiv::test {

// Makes a FIFO at `path`; false when the file system refuses.
[[nodiscard]] bool make_fifo(const std::string& path);

// Runs `call` on a thread of its own; true when it returned within `limit` while nobody had the FIFO at `fifo` open
// for writing. A call still blocked then (opening or reading the FIFO) is released by a writer that comes and goes,
// so a test of a reader that blocks fails instead of hanging.
[[nodiscard]] bool returns_without_a_writer(const std::string& fifo, const std::function<void()>& call,
                                            std::chrono::milliseconds limit);

} // namespace tiv::test
