#include "app/history.h"

#include "app/internal/history/history_keeper.h"
#include "app/internal/program_parts.h"

namespace tiv::app {

std::vector<transfer_view> read_history(program& p) {
    history_keeper& keeper = history_of(p);
    keeper.flush();
    return keeper.read();
}

std::uint64_t history_generation(program& p) {
    return history_of(p).generation();
}

status clear_history(program& p) {
    return history_of(p).clear();
}

} // namespace tiv::app
