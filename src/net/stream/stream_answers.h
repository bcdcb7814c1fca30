#pragma once

#include <cstdint>
#include <deque>
#include <span>

#include "net/stream/parcel_frames.h"
#include "net/stream/parcel_link.h"
#include "net/transfer/parcel_receipt.h"

namespace tiv {

// Why a sender ends a connection whose receiver said something it was not asked.
inline constexpr const char* out_of_turn_words = "the receiver answered out of turn";

// The receiver's answers on the parcel stream, each matched to the folder or file it is owed to. A receipt carries
// no name: what ties it to a file is only that the receiver answers each one once, in the order they went out. So an
// answer is believed only when it is due: a resumable file gets its offer (or a refusal instead) before its data, a
// refusal may come as soon as the receiver decides it, and "stored" only once the file's end has gone out. Anything
// else (an answer nobody is owed, "stored" for a file still under way, an offer nobody asked for) means the answers
// no longer line up with the files, and none of them can be believed any more.
//
// Several items may wait for their answers at once (a pipelined sender); they are answered oldest first.
class stream_answers {
public:
    enum class kind { none, offer, stored, refused, timed_out, ended, malformed, out_of_turn };
    struct answer {
        kind what = kind::none;
        offer_frame offer;      // with kind::offer
        parcel_receipt receipt; // with kind::refused
        std::uint64_t item = 0; // with an offer or a receipt: the item it answers
    };

    explicit stream_answers(parcel_link& link) : m_oLink(link) {}
    stream_answers(const stream_answers&) = delete;
    stream_answers& operator=(const stream_answers&) = delete;

    // A file's record went out: its item number. A resumable one waits for an offer before its data.
    [[nodiscard]] std::uint64_t file_started(bool resumable);
    // The folder's announcement went out whole: its item number; its receipt is due.
    [[nodiscard]] std::uint64_t folder_announced();
    // The end of the newest file went out.
    void file_ended();
    // Items still owed an answer.
    [[nodiscard]] std::size_t owed() const { return m_aItems.size(); }

    // The next answer, waiting up to `wait_ms` for it (0: only one that has already arrived, else `none`). A receipt
    // settles the oldest item; an answer already waiting behind the last one owed is one too many, and makes it out
    // of turn.
    [[nodiscard]] answer next(int wait_ms);

private:
    // `answered`: refused before its end went out, which still goes out.
    enum class stage { offer_due, sending, answered, receipt_due };
    struct item {
        std::uint64_t number;
        stage now;
    };

    [[nodiscard]] answer judge(frame_type type, std::span<const std::uint8_t> payload);

    parcel_link& m_oLink;
    std::deque<item> m_aItems; // oldest first; only the newest may still be going out
    std::uint64_t m_nNextItem = 1;
};

} // namespace tiv
