#include "net/stream/stream_receiving.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <unordered_set>
#include <vector>

#include "core/transfer_view.h"
#include "log/activity_log.h"
#include "net/box/kept_part.h"
#include "net/box/parcel_names.h"
#include "net/box/parcel_policy.h"
#include "net/box/parcel_temporaries.h"
#include "net/stream/conversation_receiving.h"
#include "net/stream/received_folder.h"
#include "net/transfer/received_file.h"
#include "net/transfer/socket_thread.h"
#include "net/transfer/transfer_bodies.h"
#include "platform/sha256_stream.h"
#include "settings/friend_profile.h"

namespace tiv {

namespace {
// Why the stream broke off, from what the link last failed on, for an end that named no reason of its own.
std::string link_failure_words(const sys_status& failure) {
    switch (failure.code()) {
    case 0:
        return "the connection ended before the sender's end";
    case EPROTO:
        return "the sender's stream held a malformed frame, or bytes it did not seal";
    case ETIMEDOUT:
        return "the sender fell silent";
    default:
        return failure.text();
    }
}

// Where one file is written until it is whole, and what becomes of it when it is not.
struct file_target {
    unique_fd directory; // where it is stored
    std::string directory_path;
    unique_fd kept_directory; // the friend's box, where a kept part waits for the next send
    std::string name;         // the name it is stored under
    temporary_parcel_claim claim;
    std::optional<kept_part> kept;
    std::optional<cryptoapi::sha256_stream> whole; // over the kept bytes and what follows them
    std::uint64_t resumed_from = 0;
    std::string written; // the name it is written under until it is whole (in `directory`, or the kept part's)
};

class stream_receiver {
public:
    stream_receiver(socket_thread& transfer, parcel_link& link, std::string box, const box_check& box_refusal,
                    box_ledger& ledger, bool keep_broken_parts, const stream_hooks& hooks)
        : m_oTransfer(transfer), m_oLink(link), m_strBox(std::move(box)), m_oBoxCheck(box_refusal), m_oLedger(ledger),
          m_bKeepParts(keep_broken_parts), m_oHooks(hooks) {}

    void run();

private:
    enum class step { next, finished, broken };

    step on_folder(std::span<const std::uint8_t> payload);
    step on_file(std::span<const std::uint8_t> payload);
    // Where the sender says it can be reached now: only first, and only where both announced it.
    step on_whereabouts(std::span<const std::uint8_t> payload, bool first);
    // A login check or a message: instead of parcels, once, and only where both announced it.
    step on_conversation(frame_type type, std::span<const std::uint8_t> payload);
    // The connection carries parcels: it is listed, its lines are logged and it takes its turn. False when it ended.
    [[nodiscard]] bool begin_parcels();
    step receive_data(const file_frame& header, file_target& target);
    [[nodiscard]] std::optional<received_file> take_data(const file_frame& header, file_target& target);
    [[nodiscard]] bool take_file_end(std::span<const std::uint8_t> payload, file_target& target,
                                     received_file& arrived);
    void drop_partial(const file_frame& header, file_target& target, bool cut);
    step refuse(const file_frame& header, const parcel_receipt& receipt, bool data_follows);
    step skip_data(std::uint64_t announced);
    [[nodiscard]] std::optional<parcel_receipt> place_in_folder(const file_frame& header, file_target& target);
    [[nodiscard]] std::optional<parcel_receipt> place_loose(const file_frame& header, file_target& target,
                                                            box_ledger::reservation& slot);
    // Makes the directory at `components` in the folder, `paid` of the levels it adds reserved already; any more are
    // reserved here, so directories named only inside deeper paths count too. Invalid, with `why`, when not made.
    [[nodiscard]] unique_fd folder_directory(std::span<const std::string> components, std::uint64_t paid,
                                             std::string& why);
    // Whether the sender is still a friend, its profile as it stands now.
    [[nodiscard]] bool still_a_friend();
    [[nodiscard]] bool open_target(const file_frame& header, file_target& target, step& failed);
    // Sends `receipt`; a refusal is remembered as the transfer's outcome.
    bool answer(const parcel_receipt& receipt);
    step protocol_error(const char* why);
    // The box's refusal, asked of the first parcel only.
    [[nodiscard]] std::optional<parcel_receipt> box_refusal(const std::string& parcel);
    [[nodiscard]] int wait_ms() const { return m_oTransfer.io_timeout_ms; }

    socket_thread& m_oTransfer;
    parcel_link& m_oLink;
    const std::string m_strBox;
    const box_check& m_oBoxCheck;
    box_ledger& m_oLedger;
    const bool m_bKeepParts;
    const stream_hooks& m_oHooks;
    bool m_bParcelsBegun = false;
    bool m_bConversed = false;
    bool m_bBoxChecked = false;
    std::optional<received_folder> m_oFolder;
    // The folder's entries not yet in the box, kept from others until its files arrive or the stream ends.
    box_ledger::reservation m_oFolderSlot;
    std::unordered_set<std::string> m_oMadeDirectories; // in the folder, '/'-joined
    bool m_bAnsweredStored = false;                     // the last answer said stored
    // Set once the box or the folder was refused: everything after it is refused alike.
    std::optional<parcel_receipt> m_oFolderRefusal;
    folder_frame m_oAnnounced;
    bool m_bFolderAllowed = true; // only before the first file
    std::uint32_t m_nFilesSeen = 0;
    std::uint64_t m_nBytesSeen = 0;
    // The stream's outcome: failed as the last file refused, or as the stream broke.
    transfer_outcome m_oOutcome;
};

std::optional<parcel_receipt> stream_receiver::box_refusal(const std::string& parcel) {
    if (!m_bBoxChecked) {
        m_bBoxChecked = true;
        if (std::optional<parcel_receipt> refused = m_oBoxCheck(parcel)) {
            m_oFolderRefusal = std::move(refused);
        }
    }
    return m_oFolderRefusal;
}

bool stream_receiver::answer(const parcel_receipt& receipt) {
    m_bAnsweredStored = receipt.stored();
    if (!receipt.stored()) {
        m_oOutcome = transfer_outcome::refusal(receipt);
        m_oOutcome.words = receipt.text;
    }
    return m_oLink.send_frame(frame_type::receipt, receipt.encode());
}

stream_receiver::step stream_receiver::on_whereabouts(std::span<const std::uint8_t> payload, bool first) {
    if (!first || !m_oTransfer.authenticator->carries_whereabouts()) {
        return protocol_error("a record out of place");
    }
    const std::optional<whereabouts> claim = decode_whereabouts(payload);
    if (!claim) {
        return protocol_error("a malformed address");
    }
    m_oTransfer.authenticator->follow_sender(m_oTransfer.profile, *claim);
    return step::next;
}

stream_receiver::step stream_receiver::on_conversation(frame_type type, std::span<const std::uint8_t> payload) {
    if (!m_oTransfer.authenticator->carries_conversation() || m_bParcelsBegun || m_bConversed) {
        return protocol_error("a record out of place");
    }
    m_bConversed = true;
    m_bFolderAllowed = false;
    if (type == frame_type::check) {
        if (!payload.empty()) {
            return protocol_error("a malformed login check");
        }
        return still_a_friend() && answer_login_check(m_oTransfer, m_oLink) ? step::next : step::broken;
    }
    const std::optional<std::string> text = decode_message(payload);
    if (!text) {
        return protocol_error("a malformed message");
    }
    return still_a_friend() && answer_message(m_oTransfer, m_oLink, *text, m_oHooks.messages) ? step::next
                                                                                              : step::broken;
}

bool stream_receiver::begin_parcels() {
    if (m_bParcelsBegun) {
        return true;
    }
    m_bParcelsBegun = true;
    if (m_bConversed) {
        (void)protocol_error("a parcel after a login check or a message");
        return false;
    }
    m_oTransfer.set_listed(true);
    held_log_lines::release();
    if (m_oHooks.first_parcel && !m_oHooks.first_parcel()) {
        log_activity("%x: R: TOO MANY TRANSFERS [%s]", m_oTransfer.log_handle(), m_oTransfer.profile.name);
        m_oOutcome = transfer_outcome::failure(transfer_status::refused, "too many transfers were under way");
        return false;
    }
    return true;
}

stream_receiver::step stream_receiver::protocol_error(const char* why) {
    log_activity("R::Parcel stream refused [%s]: %s", m_oTransfer.profile.name, why);
    m_oOutcome = transfer_outcome::failure(transfer_status::refused, why);
    return step::broken;
}

// After a refusal the sender's data for the file still comes, until it hears of it: read and dropped, never more
// than the file announced (and one piece the sender had under way).
stream_receiver::step stream_receiver::skip_data(std::uint64_t announced) {
    std::uint64_t skipped = 0;
    for (;;) {
        frame_type type{};
        std::span<const std::uint8_t> payload;
        if (m_oLink.receive(type, payload, wait_ms()) != parcel_link::arrival::frame) {
            return step::broken;
        }
        if (type == frame_type::file_end) {
            return step::next;
        }
        skipped += payload.size();
        if (type != frame_type::data || skipped > announced + max_frame_payload) {
            return protocol_error("data beyond the refused file's end");
        }
    }
}

stream_receiver::step stream_receiver::refuse(const file_frame& header, const parcel_receipt& receipt,
                                              bool data_follows) {
    const std::string why = receipt.text.empty() ? receipt_words(receipt) : receipt.text;
    log_activity("R::Parcel refused [%s][%s]: %s", m_oTransfer.profile.name, header.path.c_str(), why.c_str());
    const bool told = answer(receipt);
    m_oTransfer.end_parcel(m_oOutcome.status, why);
    if (!told) {
        return step::broken;
    }
    return data_follows ? skip_data(header.size) : step::next;
}

stream_receiver::step stream_receiver::on_folder(std::span<const std::uint8_t> payload) {
    if (!begin_parcels()) {
        return step::broken;
    }
    const std::optional<folder_frame> frame = decode_folder(payload);
    if (!frame || !m_bFolderAllowed) {
        return protocol_error(frame ? "a second folder, or a folder after files" : "a malformed folder record");
    }
    m_bFolderAllowed = false;
    m_oAnnounced = *frame;
    if (!still_a_friend()) {
        return step::broken;
    }
    const friend_profile& sender = m_oTransfer.profile;
    std::optional<parcel_receipt> refusal = box_refusal(frame->name);
    std::string why;
    if (refusal) {
        // Refused as it stands.
    } else if (!is_plain_component(frame->name) || is_kept_part_name(frame->name) ||
               is_temporary_parcel_name(frame->name)) {
        refusal =
            refusal_receipt(receipt_reason::name_refused, transfer_status::refused, "the folder's name is refused");
    } else {
        // The folder's own directory, those inside it and its files.
        const std::uint64_t entries = 1ULL + frame->directories + frame->files;
        refusal = parcel_refusal(sender, m_oLedger, m_strBox, frame->bytes, entries, m_oFolderSlot);
    }
    m_oTransfer.set_state(transfer_state::getting_file_record);
    if (!refusal) {
        m_oFolder = received_folder::create(m_strBox, frame->name, why);
        if (!m_oFolder) {
            refusal = refusal_receipt(receipt_reason::write_failed, transfer_status::file_open,
                                      "the receiver cannot make the folder");
        } else {
            m_oFolderSlot.stored();
            m_oTransfer.set_folder_name(frame->name);
        }
    }
    // The directories come right after the folder; every one is checked even when the folder is refused, so the
    // stream stays in step.
    for (std::uint32_t i = 0; i < frame->directories; ++i) {
        frame_type type{};
        std::span<const std::uint8_t> directory;
        if (m_oLink.receive(type, directory, wait_ms()) != parcel_link::arrival::frame) {
            return step::broken;
        }
        const std::optional<std::string> path =
            type == frame_type::directory ? decode_directory(directory) : std::nullopt;
        if (!path) {
            return protocol_error("a malformed directory record");
        }
        if (refusal) {
            continue;
        }
        const auto components = parcel_path_components(*path, why);
        if (!components || !folder_directory(*components, 1, why)) {
            refusal = refusal_receipt(receipt_reason::name_refused, transfer_status::refused,
                                      "a directory is refused: " + why);
        }
    }
    if (refusal && m_oFolder) {
        // Half a tree of empty directories is no parcel; only what something was stored in stays, and is named.
        std::string stayed;
        for (const std::string& path : m_oFolder->remove_directories()) {
            stayed += (stayed.empty() ? "; left in the box: " : ", ") + path;
        }
        refusal->text += stayed;
        m_oFolder.reset();
    }
    if (refusal) {
        log_activity("R::Parcel refused [%s][%s/]: %s", sender.name, frame->name.c_str(), refusal->text.c_str());
        m_oFolderRefusal = refusal;
        m_oFolderSlot.release();
        return answer(*refusal) ? step::next : step::broken;
    }
    log_activity("%x: R: FOLDER[%s]: %u files, %u directories, %llu bytes", m_oTransfer.log_handle(),
                 m_oFolder->path().c_str(), frame->files, frame->directories,
                 static_cast<unsigned long long>(frame->bytes));
    return answer(stored_receipt()) ? step::next : step::broken;
}

std::optional<parcel_receipt> stream_receiver::place_in_folder(const file_frame& header, file_target& target) {
    std::string why;
    const auto components = parcel_path_components(header.path, why);
    if (!components) {
        return refusal_receipt(receipt_reason::name_refused, transfer_status::refused, why);
    }
    if (m_nFilesSeen + 1 > m_oAnnounced.files || m_nBytesSeen + header.size > m_oAnnounced.bytes ||
        m_nBytesSeen + header.size < m_nBytesSeen) {
        return refusal_receipt(receipt_reason::over_size, transfer_status::refused, "more than the folder announced");
    }
    const std::span<const std::string> parents(components->data(), components->size() - 1);
    target.directory = folder_directory(parents, 0, why);
    if (!target.directory) {
        return refusal_receipt(receipt_reason::write_failed, transfer_status::file_open, why);
    }
    target.directory_path = m_oFolder->path();
    for (const std::string& parent : parents) {
        target.directory_path += "/" + parent;
    }
    target.name = components->back();
    return std::nullopt;
}

unique_fd stream_receiver::folder_directory(std::span<const std::string> components, std::uint64_t paid,
                                            std::string& why) {
    std::vector<std::string> added;
    std::string level;
    for (const std::string& component : components) {
        level += (level.empty() ? "" : "/") + component;
        if (!m_oMadeDirectories.contains(level)) {
            added.push_back(level);
        }
    }
    box_ledger::reservation more;
    if (added.size() > paid) {
        std::uint64_t held = 0;
        const std::uint32_t limit = m_oTransfer.profile.max_file_count;
        std::optional<box_ledger::reservation> reserved = m_oLedger.reserve(m_strBox, added.size() - paid, limit, held);
        if (!reserved) {
            why = "the parcel box already holds " + std::to_string(held) + " files, the maximum is " +
                  std::to_string(limit);
            return unique_fd();
        }
        more = std::move(*reserved);
    }
    unique_fd made = m_oFolder->directory(components, why);
    if (made) {
        m_oFolderSlot.stored(std::min<std::uint64_t>(paid, added.size()));
        more.stored(more.left());
        m_oMadeDirectories.insert(added.begin(), added.end());
    }
    return made;
}

std::optional<parcel_receipt> stream_receiver::place_loose(const file_frame& header, file_target& target,
                                                           box_ledger::reservation& slot) {
    const std::optional<std::string> name = parcel_file_name(header.path);
    if (!name) {
        return refusal_receipt(receipt_reason::name_refused, transfer_status::refused);
    }
    if (std::optional<parcel_receipt> refused =
            parcel_refusal(m_oTransfer.profile, m_oLedger, m_strBox, header.size, 1, slot)) {
        return refused;
    }
    target.directory.reset(::open(m_strBox.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!target.directory) {
        return write_failure_receipt(errno, 0);
    }
    target.directory_path = m_strBox;
    target.name = *name;
    return std::nullopt;
}

// Opens where the data goes: the kept part of an earlier transfer when both sides agree on its bytes, else a new
// temporary (or a new kept part, for a large file).
bool stream_receiver::open_target(const file_frame& header, file_target& target, step& failed) {
    transfer_file& file = m_oTransfer.file;
    std::string why;
    // The sender only asks; whether a part is worth keeping is ours to say.
    if (header.resumable && m_bKeepParts && header.size >= min_kept_file_size) {
        // In the box, whether the file goes there or into a folder: the next send of a folder makes a new one, and
        // must find the part all the same. A folder's file is known by the folder's name and its path in it.
        target.kept_directory.reset(::open(m_strBox.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        const std::string known_as = m_oFolder ? m_oAnnounced.name + "/" + header.path : target.name;
        if (target.kept_directory) {
            target.kept = kept_part::open(target.kept_directory.get(), m_strBox,
                                          kept_part_key(known_as, header.size, header.mtime_ns), why);
        }
    }
    // A part made for this file and given up before a byte went into it would only wait its days for nothing.
    const auto give_up = [&](step outcome) {
        if (target.kept && target.kept->length() == 0) {
            (void)target.kept->remove();
        }
        failed = outcome;
        return false;
    };
    offer_frame offer;
    if (target.kept) {
        if (target.kept->length() > header.size) {
            (void)target.kept->discard();
        }
        if (target.kept->length() > 0) {
            cryptoapi::sha256_stream hash;
            if (target.kept->hash_into(hash) && hash.ok()) {
                target.whole.emplace(hash.copy());
                offer = {.kept = target.kept->length(), .hash = hash.finish()};
            } else {
                (void)target.kept->discard();
            }
        }
    }
    if (header.resumable) {
        frame_type type{};
        std::span<const std::uint8_t> payload;
        if (!m_oLink.send_frame(frame_type::offer, encode_offer(offer)) ||
            m_oLink.receive(type, payload, wait_ms()) != parcel_link::arrival::frame) {
            return give_up(step::broken);
        }
        const std::optional<std::uint64_t> from = type == frame_type::resume ? decode_resume(payload) : std::nullopt;
        if (!from || (*from != 0 && *from != offer.kept)) {
            return give_up(protocol_error("a resume at a place that was not offered"));
        }
        target.resumed_from = *from;
    }
    if (target.kept) {
        if (target.resumed_from == 0) {
            target.whole.reset();
            if (offer.kept > 0) {
                log_activity("R::Kept part of [%s] differs from the sender's file: received whole",
                             target.name.c_str());
            }
            if (!target.kept->discard()) {
                target.kept.reset();
            }
        } else {
            log_activity("%x: R: RESUMING[%s] at %llu bytes", m_oTransfer.log_handle(), target.kept->path().c_str(),
                         static_cast<unsigned long long>(target.resumed_from));
        }
    }
    if (target.kept) {
        unique_fd writer = target.kept->writer(file.writer());
        if (writer) {
            file.adopt_for_writing(std::move(writer), target.kept->path(), target.resumed_from);
            return true;
        }
        if (target.resumed_from != 0) {
            return give_up(step::broken);
        }
        (void)target.kept->remove();
        target.kept.reset();
    }
    if (!target.claim.create_in(target.directory.get(), target.directory_path, file)) {
        log_activity("%x: R: OPENFAILURE[%s]", m_oTransfer.log_handle(), target.name.c_str());
        failed = refuse(header, write_failure_receipt(errno, 0), true);
        return false;
    }
    return true;
}

// What is left when the data ends early: a temporary goes. A kept part stays for the next send only when the
// transfer was cut off (`cut`) with something in it; a sender that ends the file itself, or breaks the stream's
// rules, has nothing to come back for.
void stream_receiver::drop_partial(const file_frame& header, file_target& target, bool cut) {
    (void)m_oTransfer.file.close_file();
    if (!target.kept) {
        ::unlinkat(target.directory.get(), target.written.c_str(), 0);
        return;
    }
    const std::uint64_t kept = target.kept->length();
    // A file the receiving user stopped is one they do not want: nothing of it stays.
    if (!cut || kept == 0 || m_oTransfer.discard_requested()) {
        (void)target.kept->remove();
        return;
    }
    m_oTransfer.set_bytes_kept(kept);
    const std::uint32_t largest = m_oTransfer.profile.max_file_size;
    (void)trim_kept_parts(target.kept_directory.get(), m_strBox, target.kept->name(),
                          largest == unlimited ? UINT64_MAX : largest);
    log_activity("%x: R: KEPT[%s]: %llu of %llu bytes, for the next send", m_oTransfer.log_handle(),
                 target.kept->path().c_str(), static_cast<unsigned long long>(kept),
                 static_cast<unsigned long long>(header.size));
}

// The sender's end of the file: whether it sent all of it, and whether what it sent continues the kept part.
bool stream_receiver::take_file_end(std::span<const std::uint8_t> payload, file_target& target,
                                    received_file& arrived) {
    const std::optional<file_end_frame> end = decode_file_end(payload);
    if (!end) {
        return false;
    }
    arrived.closed = m_oTransfer.file.close_file();
    arrived.write_error = errno;
    arrived.written = arrived.arrived;
    arrived.end = end->complete ? data_end::whole : data_end::abandoned;
    arrived.matches_kept_part =
        !target.whole || (end->whole_hash && target.whole->ok() && target.whole->finish() == *end->whole_hash);
    return true;
}

// Writes the file's data as it comes, until the sender's end of it, a break or a stop: what arrived, or none when
// the sender broke the stream's rules (the stream then ends here).
std::optional<received_file> stream_receiver::take_data(const file_frame& header, file_target& target) {
    transfer_file& file = m_oTransfer.file;
    received_file arrived{.announced = header.size,
                          .arrived = target.resumed_from,
                          .log_handle = m_oTransfer.log_handle(),
                          .shown_name = header.path};
    const auto broke_rules = [&](const char* why) {
        drop_partial(header, target, false);
        (void)protocol_error(why);
        return std::optional<received_file>();
    };
    const auto ended = [&](data_end how) {
        arrived.end = how;
        return std::optional(arrived);
    };
    for (;;) {
        if (m_oTransfer.stop_requested()) {
            return ended(data_end::stopped);
        }
        frame_type type{};
        std::span<const std::uint8_t> payload;
        if (m_oLink.receive(type, payload, wait_ms()) != parcel_link::arrival::frame) {
            return ended(data_end::cut);
        }
        if (type == frame_type::file_end) {
            return take_file_end(payload, target, arrived) ? std::optional(arrived)
                                                           : broke_rules("a malformed end of file");
        }
        if (type != frame_type::data) {
            return broke_rules("a record out of place inside a file's data");
        }
        arrived.arrived += payload.size();
        if (arrived.arrived > header.size) {
            return ended(data_end::over_announced);
        }
        if (!file.write_all(payload.data(), payload.size())) {
            arrived.write_error = errno;
            arrived.written = file.size;
            return ended(data_end::write_failed);
        }
        if (target.whole) {
            target.whole->update(payload);
        }
        m_oTransfer.set_bytes_done(arrived.arrived);
    }
}

stream_receiver::step stream_receiver::receive_data(const file_frame& header, file_target& target) {
    m_oTransfer.set_bytes_done(target.resumed_from);
    if (target.resumed_from > 0) {
        m_oTransfer.set_resumed_from(target.resumed_from);
    }
    m_oTransfer.set_state(transfer_state::running);
    const std::string& path = m_oTransfer.file.path;
    target.written = target.kept ? target.kept->name() : path.substr(path.find_last_of('/') + 1);
    const std::optional<received_file> arrived = take_data(header, target);
    if (!arrived) {
        return step::broken;
    }
    const transfer_outcome outcome = received_file_outcome(*arrived, [&] {
        return move_without_replacing_at(target.kept ? target.kept_directory.get() : target.directory.get(),
                                         target.written, target.directory.get(), target.directory_path, target.name);
    });
    if (!outcome.failed()) {
        m_oTransfer.set_stored_path(outcome.stored_path);
        const bool told = answer(*outcome.receipt);
        m_oTransfer.end_parcel();
        return told ? step::next : step::broken;
    }
    // A stopped or cut transfer has no one to tell; what it wrote may stay for the next send.
    const bool cut = !outcome.receipt;
    drop_partial(header, target, cut);
    if (cut) {
        m_oOutcome.status = outcome.status;
        return step::broken;
    }
    // Refused before the sender's end of the file: the rest of its data still comes.
    const bool data_follows = arrived->end != data_end::whole && arrived->end != data_end::abandoned;
    return refuse(header, *outcome.receipt, data_follows);
}

stream_receiver::step stream_receiver::on_file(std::span<const std::uint8_t> payload) {
    if (!begin_parcels()) {
        return step::broken;
    }
    const std::optional<file_frame> header = decode_file(payload);
    if (!header) {
        return protocol_error("a malformed file record");
    }
    m_bFolderAllowed = false;
    if (!still_a_friend()) {
        return step::broken;
    }
    file_record shown;
    shown.set_name(header->path);
    m_oTransfer.begin_parcel(shown, header->size);
    m_oTransfer.set_state(transfer_state::verifying_permissions);
    // A refusal is told at once; data follows it unless the sender waits for an offer first.
    const bool data_follows = !header->resumable;
    file_target target;
    // A loose file's entry; a folder's file takes one of the folder's.
    box_ledger::reservation loose_slot;
    std::optional<parcel_receipt> refusal = box_refusal(header->path);
    if (!refusal) {
        refusal = m_oFolder ? place_in_folder(*header, target) : place_loose(*header, target, loose_slot);
    }
    if (refusal) {
        return refuse(*header, *refusal, data_follows);
    }
    ++m_nFilesSeen;
    m_nBytesSeen += header->size;
    m_oTransfer.set_state(transfer_state::opening_write_file);
    step failed = step::next;
    if (!open_target(*header, target, failed)) {
        return failed;
    }
    m_bAnsweredStored = false;
    const step received = receive_data(*header, target);
    if (m_bAnsweredStored) {
        (m_oFolder ? m_oFolderSlot : loose_slot).stored();
    }
    return received;
}

bool stream_receiver::still_a_friend() {
    if (m_oTransfer.authenticator->reread_sender(m_oTransfer.profile)) {
        return true;
    }
    // Whatever is under way ends here: the friend's trust was withdrawn, and nothing more of it is kept.
    log_activity("R::Parcel stream ended [%s]: the sender is no longer a friend", m_oTransfer.profile.name);
    m_oOutcome = transfer_outcome::failure(transfer_status::refused, "the sender is no longer a friend");
    return false;
}

void stream_receiver::run() {
    bool in_order = false;
    bool first = true;
    for (bool going = true; going; first = false) {
        frame_type type{};
        std::span<const std::uint8_t> payload;
        m_oTransfer.set_state(transfer_state::getting_file_record);
        const parcel_link::arrival arrival = m_oLink.receive(type, payload, wait_ms());
        if (arrival != parcel_link::arrival::frame) {
            m_oOutcome.status = transfer_status::receive;
            break;
        }
        step next = step::next;
        switch (type) {
        case frame_type::folder:
            next = on_folder(payload);
            break;
        case frame_type::file:
            next = on_file(payload);
            break;
        case frame_type::end:
            next = payload.empty() ? step::finished : protocol_error("a malformed end");
            break;
        case frame_type::whereabouts:
            next = on_whereabouts(payload, first);
            break;
        case frame_type::check:
        case frame_type::message:
            next = on_conversation(type, payload);
            break;
        default:
            next = protocol_error("a record out of place");
            break;
        }
        going = next == step::next;
        in_order = next == step::finished;
    }
    m_oTransfer.set_state(transfer_state::shutting_down);
    if (in_order) {
        // The sender's close_notify follows its end; ours answers it.
        frame_type type{};
        std::span<const std::uint8_t> payload;
        in_order = m_oLink.receive(type, payload, wait_ms()) == parcel_link::arrival::closed && m_oLink.close_stream();
    }
    if (in_order) {
        (void)m_oTransfer.close_connection();
    } else {
        m_oTransfer.abort_connection();
        if (!m_oOutcome.failed()) {
            m_oOutcome.status = transfer_status::receive;
        }
    }
    if (m_oOutcome.status == transfer_status::receive && m_oOutcome.words.empty()) {
        m_oOutcome.words = link_failure_words(m_oLink.failure());
    }
    if (m_oOutcome.failed()) {
        log_activity("%x: R:  STATUS_ERROR [%d]%s%s", m_oTransfer.log_handle(), number_of(*m_oOutcome.status),
                     m_oOutcome.words.empty() ? "" : ": ", m_oOutcome.words.c_str());
    }
    end_transfer(m_oTransfer, "R", m_oOutcome);
}
} // namespace

void run_stream_receiving(socket_thread& transfer, parcel_link& link, const std::string& parcel_box,
                          const box_check& box_refusal, box_ledger& ledger, bool keep_broken_parts,
                          const stream_hooks& hooks) {
    stream_receiver(transfer, link, parcel_box, box_refusal, ledger, keep_broken_parts, hooks).run();
}

} // namespace tiv
