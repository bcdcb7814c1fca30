#pragma once

#include "app/internal/only.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "app/events.h"

namespace tiv::app {

// Where friends' messages go from the listener's transfers: to every front end that shows them now (message_feed).
class message_hub {
public:
    void add(event_sink& sink) {
        const std::lock_guard guard(m_oLock);
        m_aSinks.push_back(&sink);
    }
    // Once this returns, `sink` hears of no further message.
    void remove(event_sink& sink) {
        const std::lock_guard guard(m_oLock);
        std::erase(m_aSinks, &sink);
    }
    // On a transfer's thread. False when nothing shows messages now: the sender is told it was not delivered.
    [[nodiscard]] bool deliver(const received_message& message) {
        const std::lock_guard guard(m_oLock);
        for (event_sink* sink : m_aSinks) {
            sink->message(message);
        }
        return !m_aSinks.empty();
    }

private:
    std::mutex m_oLock; // guards m_aSinks; held while the sinks, which only enqueue, hear of a message
    std::vector<event_sink*> m_aSinks;
};

} // namespace tiv::app
