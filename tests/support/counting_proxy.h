#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace tiv::test {

// A relay on 127.0.0.1 in front of a listener, one connection at a time, that counts the bytes going towards the
// listener and can hold them back after a given count: a test cuts a transfer where it wants, then kills the
// receiver behind it. Stops with the object.
class counting_proxy {
public:
    explicit counting_proxy(int target_port);
    counting_proxy(const counting_proxy&) = delete;
    counting_proxy& operator=(const counting_proxy&) = delete;
    ~counting_proxy();

    [[nodiscard]] int port() const { return m_nPort; }
    // Bytes relayed towards the listener since the last reset.
    [[nodiscard]] std::uint64_t forwarded() const { return m_nForwarded.load(); }
    // From now on, relays at most `limit` bytes towards the listener (0: no limit) and counts from 0.
    void reset(std::uint64_t limit = 0);
    // Whether the relay has held data back at its limit.
    [[nodiscard]] bool holding() const { return m_bHolding.load(); }

private:
    void serve();
    void relay(int client, int server);

    int m_nListener = -1;
    int m_nPort = 0;
    int m_nTarget;
    std::atomic<std::uint64_t> m_nForwarded{0};
    std::atomic<std::uint64_t> m_nLimit{0};
    std::atomic<bool> m_bHolding{false};
    std::atomic<bool> m_bStop{false};
    std::thread m_oThread;
};

} // namespace tiv::test
