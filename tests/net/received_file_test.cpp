#include <cerrno>
#include <gtest/gtest.h>

#include "core/transfer_view.h"
#include "net/transfer/received_file.h"

namespace tiv {
namespace {

// Every way a file's data can end, as both receivers report it: the status, the receipt the sender is told (none
// when nobody is left to tell), and whether the file is given its name at all.
TEST(ReceivedFileOutcome, EachEndOfTheDataHasOneStatusAndReceipt) {
    constexpr std::uint64_t four_gib = std::uint64_t{1} << 32;
    const auto whole = [](std::uint64_t arrived) { return received_file{.announced = 100, .arrived = arrived}; };
    const auto ended = [&](data_end how) {
        received_file file = whole(40);
        file.end = how;
        file.written = 40;
        return file;
    };
    const auto with = [](received_file file, auto change) {
        change(file);
        return file;
    };
    struct row {
        const char* what;
        received_file file;
        std::optional<transfer_status> status;
        std::optional<receipt_reason> reason;
        std::string text;
        bool renames = true;
    };
    const row rows[] = {
        {"stored", whole(100), std::nullopt, receipt_reason::stored, ""},
        {"rename failed", whole(100), transfer_status::receive, receipt_reason::rename_failed, "", false},
        {"stopped", ended(data_end::stopped), transfer_status::stopped, std::nullopt, ""},
        {"cut", ended(data_end::cut), transfer_status::receive, std::nullopt, ""},
        {"over the limit", with(ended(data_end::over_limit), [](auto& f) { f.size_limit = 30; }),
         transfer_status::refused, receipt_reason::over_size, "more than the maximum of 30 bytes arrived"},
        {"over the announced size", ended(data_end::over_announced), transfer_status::receive,
         receipt_reason::changed_size, "more data arrived than the 100 bytes announced"},
        {"disk full", with(ended(data_end::write_failed), [](auto& f) { f.write_error = ENOSPC; }),
         transfer_status::receive, receipt_reason::disk_full, "the receiver's disk is full after 40 bytes"},
        {"write failed", with(ended(data_end::write_failed), [](auto& f) { f.write_error = EIO; }),
         transfer_status::receive, receipt_reason::write_failed,
         "the file could not be written after 40 bytes: Input/output error"},
        {"sender stopped", ended(data_end::abandoned), transfer_status::receive, receipt_reason::changed_size,
         "the sender stopped before the end of the file"},
        {"changed size", whole(90), transfer_status::receive, receipt_reason::changed_size,
         "the file changed size while it was being sent: 90 bytes arrived, 100 were announced"},
        {"only the low 32 bits announced", with(whole(four_gib + 100), [](auto& f) { f.announced_low_32_bits = true; }),
         std::nullopt, receipt_reason::stored, ""},
        {"all 64 bits announced", whole(four_gib + 100), transfer_status::receive, receipt_reason::changed_size,
         "the file changed size while it was being sent: 4294967396 bytes arrived, 100 were announced"},
        {"differs from the kept part", with(whole(100), [](auto& f) { f.matches_kept_part = false; }),
         transfer_status::receive, receipt_reason::changed_size,
         "the file differs from the part kept of an earlier transfer"},
        {"close failed",
         with(whole(100),
              [](auto& f) {
                  f.closed = false;
                  f.write_error = EDQUOT;
                  f.written = 100;
              }),
         transfer_status::receive, receipt_reason::disk_full, "the receiver's disk is full after 100 bytes"},
        // The sender's fault is told before our own disk's.
        {"changed size and close failed",
         with(whole(90),
              [](auto& f) {
                  f.closed = false;
                  f.write_error = EIO;
              }),
         transfer_status::receive, receipt_reason::changed_size,
         "the file changed size while it was being sent: 90 bytes arrived, 100 were announced"},
    };
    for (const row& expected : rows) {
        SCOPED_TRACE(expected.what);
        int named = 0;
        const transfer_outcome outcome = received_file_outcome(expected.file, [&]() -> std::optional<std::string> {
            ++named;
            return expected.renames ? std::optional<std::string>("/box/file") : std::nullopt;
        });
        EXPECT_EQ(outcome.status, expected.status);
        EXPECT_TRUE(outcome.completed);
        ASSERT_EQ(outcome.receipt.has_value(), expected.reason.has_value());
        const bool keepable =
            expected.reason == receipt_reason::stored || expected.reason == receipt_reason::rename_failed;
        EXPECT_EQ(named, keepable ? 1 : 0);
        EXPECT_EQ(outcome.stored_path, outcome.failed() ? "" : "/box/file");
        if (outcome.receipt) {
            EXPECT_EQ(outcome.receipt->reason, *expected.reason);
            EXPECT_EQ(outcome.receipt->text, expected.text);
            EXPECT_EQ(outcome.receipt->stored() ? std::nullopt : transfer_status_numbered(outcome.receipt->status),
                      expected.status);
        }
    }
}

} // namespace
} // namespace tiv
