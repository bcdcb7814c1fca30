#include <algorithm>

#include "log/activity_log.h"
#include "net/transfer/socket_thread.h"
#include "net/transfer/transfer_bodies.h"

namespace tiv {

std::size_t transfer_chunk_size(int io_block_size, int allowance) {
    std::size_t chunk = static_cast<std::size_t>(std::max(io_block_size, 1024));
    const auto rounding = static_cast<std::size_t>(std::max(allowance, 1));
    return chunk + chunk % rounding;
}

transfer_buffers::~transfer_buffers() {
    wipe_capacity(plain);
    wipe_capacity(wire);
}

void end_transfer(socket_thread& transfer, const char* side, const transfer_outcome& outcome) {
    transfer.end(outcome);
    if (!outcome.completed) {
        return;
    }
    const transfer_view ended = transfer.snapshot();
    log_activity("%x: %s: Seconds, Bytes, Throughput(b/s) [%.3f, %llu, %.1f]", transfer.log_handle(), side,
                 ended.seconds, static_cast<unsigned long long>(ended.bytes_done),
                 ended.seconds > 0 ? static_cast<double>(ended.bytes_done) / ended.seconds : -1.0);
}

} // namespace tiv
