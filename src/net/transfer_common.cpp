#include <algorithm>
#include <ctime>
#include <openssl/crypto.h>

#include "log/activity_log.h"
#include "net/socket_thread.h"
#include "net/transfer_bodies.h"

namespace tiv {

std::size_t transfer_chunk_size(int io_block_size, int allowance) {
    std::size_t chunk = static_cast<std::size_t>(std::max(io_block_size, 1024));
    const auto rounding = static_cast<std::size_t>(std::max(allowance, 1));
    return chunk + chunk % rounding;
}

transfer_buffers::~transfer_buffers() {
    for (std::vector<std::uint8_t>* buffer : {&plain, &wire}) {
        buffer->resize(buffer->capacity());
        OPENSSL_cleanse(buffer->data(), buffer->size());
    }
}

void complete_transfer(socket_thread& transfer, const char* side) {
    transfer.state = COMPLETED;
    const double seconds = clock_now() - transfer.started_at;
    transfer.elapsed = seconds;
    transfer.end_time = static_cast<std::int64_t>(std::time(nullptr));
    const std::uint64_t bytes = transfer.bytes_transferred;
    log_activity("%x: %s: Seconds, Bytes, Throughput(b/s) [%.3f, %llu, %.1f]",
                 static_cast<unsigned>(transfer.thread_handle.load()), side, seconds,
                 static_cast<unsigned long long>(bytes), seconds > 0 ? static_cast<double>(bytes) / seconds : -1.0);
}

} // namespace tiv
