#include "net/stream/stream_answers.h"

namespace tiv {

namespace {
stream_answers::answer only(stream_answers::kind what) {
    stream_answers::answer answer;
    answer.what = what;
    return answer;
}
} // namespace

std::uint64_t stream_answers::file_started(bool resumable) {
    m_aItems.push_back({.number = m_nNextItem, .now = resumable ? stage::offer_due : stage::sending});
    return m_nNextItem++;
}

std::uint64_t stream_answers::folder_announced() {
    m_aItems.push_back({.number = m_nNextItem, .now = stage::receipt_due});
    return m_nNextItem++;
}

void stream_answers::file_ended() {
    if (m_aItems.empty()) {
        return;
    }
    // After an early refusal the file's end still goes out, but nothing more is owed for it.
    if (m_aItems.back().now == stage::answered) {
        m_aItems.pop_back();
    } else {
        m_aItems.back().now = stage::receipt_due;
    }
}

stream_answers::answer stream_answers::judge(frame_type type, std::span<const std::uint8_t> payload) {
    if (m_aItems.empty()) {
        return only(kind::out_of_turn);
    }
    item& oldest = m_aItems.front();
    if (type == frame_type::offer) {
        if (oldest.now != stage::offer_due) {
            return only(kind::out_of_turn);
        }
        const std::optional<offer_frame> offer = decode_offer(payload);
        if (!offer) {
            return only(kind::malformed);
        }
        oldest.now = stage::sending;
        answer offered = only(kind::offer);
        offered.offer = *offer;
        offered.item = oldest.number;
        return offered;
    }
    if (type != frame_type::receipt) {
        return only(kind::malformed);
    }
    parcel_receipt receipt;
    std::size_t used = 0;
    if (decode_receipt(payload, receipt, used) != receipt_parse::complete || used != payload.size()) {
        return only(kind::malformed);
    }
    if (oldest.now == stage::answered || (receipt.stored() && oldest.now != stage::receipt_due)) {
        return only(kind::out_of_turn);
    }
    const std::uint64_t number = oldest.number;
    if (oldest.now == stage::receipt_due) {
        m_aItems.pop_front();
    } else {
        oldest.now = stage::answered;
    }
    // A receiver of ours says nothing more until the next record reaches it.
    frame_type after{};
    std::span<const std::uint8_t> more;
    if (m_aItems.empty() && m_oLink.receive(after, more, 0) == parcel_link::arrival::frame) {
        return only(kind::out_of_turn);
    }
    answer settled = only(receipt.stored() ? kind::stored : kind::refused);
    settled.item = number;
    if (!receipt.stored()) {
        settled.receipt = std::move(receipt);
    }
    return settled;
}

stream_answers::answer stream_answers::next(int wait_ms) {
    frame_type type{};
    std::span<const std::uint8_t> payload;
    switch (m_oLink.receive(type, payload, wait_ms)) {
    case parcel_link::arrival::frame:
        return judge(type, payload);
    case parcel_link::arrival::nothing:
        return {};
    case parcel_link::arrival::timed_out:
        return only(kind::timed_out);
    case parcel_link::arrival::closed:
    case parcel_link::arrival::broken:
        break;
    }
    return only(kind::ended);
}

} // namespace tiv
