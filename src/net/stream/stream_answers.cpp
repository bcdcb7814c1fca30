#include "net/stream/stream_answers.h"

namespace tiv {

namespace {
stream_answers::answer only(stream_answers::kind what) {
    stream_answers::answer answer;
    answer.what = what;
    return answer;
}
} // namespace

void stream_answers::file_started(bool resumable) {
    m_nStage = resumable ? stage::offer_due : stage::sending;
}

void stream_answers::item_ended() {
    // After an early refusal the file's end still goes out, but nothing more is owed for it.
    m_nStage = m_nStage == stage::answered ? stage::idle : stage::receipt_due;
}

stream_answers::answer stream_answers::judge(frame_type type, std::span<const std::uint8_t> payload) {
    if (type == frame_type::offer) {
        if (m_nStage != stage::offer_due) {
            return only(kind::out_of_turn);
        }
        const std::optional<offer_frame> offer = decode_offer(payload);
        if (!offer) {
            return only(kind::malformed);
        }
        m_nStage = stage::sending;
        answer offered = only(kind::offer);
        offered.offer = *offer;
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
    if (m_nStage == stage::idle || m_nStage == stage::answered ||
        (receipt.stored() && m_nStage != stage::receipt_due)) {
        return only(kind::out_of_turn);
    }
    m_nStage = m_nStage == stage::receipt_due ? stage::idle : stage::answered;
    // A receiver of ours says nothing more until the next record reaches it.
    frame_type after{};
    std::span<const std::uint8_t> more;
    if (m_oLink.receive(after, more, 0) == parcel_link::arrival::frame) {
        return only(kind::out_of_turn);
    }
    if (receipt.stored()) {
        return only(kind::stored);
    }
    answer refused = only(kind::refused);
    refused.receipt = std::move(receipt);
    return refused;
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
