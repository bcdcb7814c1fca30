#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct bio_st;

namespace tiv {

// The bytes between the TLS engine and the connection, without the two copies a memory BIO costs: the engine
// reads straight from a buffer the caller lends for one call, and what it writes collects in a vector the caller
// takes whole. At a gigabyte a send, those copies were a tenth of the time.
class tls_wire {
public:
    tls_wire();
    ~tls_wire();
    tls_wire(const tls_wire&) = delete;
    tls_wire& operator=(const tls_wire&) = delete;

    // The engine's BIO for both directions, with a reference for the caller to hand over; null when OpenSSL
    // could not make one.
    [[nodiscard]] bio_st* give_bio();

    // For the life of a loan the engine reads `bytes` after anything queued earlier; what it leaves unread is
    // queued when the loan ends, so the caller may reuse its buffer at once.
    class loan {
    public:
        loan(tls_wire& wire, std::span<const std::uint8_t> bytes);
        ~loan();
        loan(const loan&) = delete;
        loan& operator=(const loan&) = delete;

    private:
        tls_wire& m_oWire;
    };

    // Queues bytes for the engine to read after anything queued earlier.
    void queue(std::span<const std::uint8_t> bytes);
    // Moves what the engine wrote to the end of `wire`, at no cost when `wire` is empty.
    void take_output(std::vector<std::uint8_t>& wire);

private:
    static int read(bio_st* bio, char* out, std::size_t size, std::size_t* got);
    static int write(bio_st* bio, const char* in, std::size_t size, std::size_t* written);
    static long control(bio_st* bio, int command, long number, void* pointer);
    [[nodiscard]] std::size_t readable() const { return m_aQueued.size() - m_nQueuedAt + m_oLent.size(); }

    bio_st* m_pBio = nullptr;
    std::vector<std::uint8_t> m_aQueued;
    std::size_t m_nQueuedAt = 0;
    std::span<const std::uint8_t> m_oLent;
    std::vector<std::uint8_t> m_aOutput;
};

} // namespace tiv
