#include <QTest>

#include "ui/desktop_notifier.h"
#include "ui/stranger_filter.h"
#include "ui/support/recording_launcher.h"
#include "ui/transfers/transfer_columns.h"
#include "ui/transfers/transfer_list_model.h"
#include "ui/transfers/transfer_texts.h"

namespace tiv::ui {

namespace {
using app::transfer_state;
using app::transfer_status;

app::transfer_view receiving(std::uint64_t id, transfer_state state, std::uint64_t size, std::uint64_t done) {
    app::transfer_view transfer;
    transfer.id = id;
    transfer.direction = app::transfer_direction::receiving;
    transfer.state = state;
    transfer.size = size;
    transfer.bytes_done = done;
    transfer.file_name = "notes.txt";
    return transfer;
}

QString shown(const std::string& text) {
    return QString::fromStdString(text);
}

app::transfer_view ended(app::transfer_view transfer, bool failed, std::string why = {},
                         transfer_status status = transfer_status::receive) {
    transfer.finished = true;
    transfer.failed = failed;
    transfer.status = status;
    transfer.status_text = std::move(why);
    return transfer;
}

// One file of a send from Alice over the connection `connection`.
app::transfer_view fromAlice(std::uint64_t id, std::uint64_t connection, bool stored, std::uint64_t bytes) {
    app::transfer_view file =
        ended(receiving(id, stored ? transfer_state::completed : transfer_state::verifying_permissions, bytes, bytes),
              !stored, stored ? "" : "over the size limit", transfer_status::refused);
    file.friend_name = "Alice";
    file.connection = connection;
    file.connection_ended = true;
    return file;
}
} // namespace

// What one row says of a transfer, decided once for every list.
class TransferRows : public QObject {
    Q_OBJECT
private slots:
    void statusNamesFailuresAndNeverCallsAFailedTransferCompleted() {
        QCOMPARE(shown(transferStatusText(receiving(1, transfer_state::running, 10, 5))), QString("xferring..."));
        QCOMPARE(shown(transferStatusText(ended(receiving(1, transfer_state::completed, 10, 10), false))),
                 QString("COMPLETED"));
        QCOMPARE(shown(transferStatusText(ended(receiving(1, transfer_state::completed, 10, 4), true,
                                                "the transfer was stopped", transfer_status::stopped))),
                 QString("STOPPED (the transfer was stopped)"));
        QCOMPARE(shown(transferStatusText(ended(receiving(1, transfer_state::completed, 10, 4), true, "over the limit",
                                                transfer_status::refused))),
                 QString("REFUSED (over the limit)"));
        QCOMPARE(shown(transferStatusText(ended(receiving(1, transfer_state::authenticating, 0, 0), true))),
                 QString("FAILED (at AUTHENTICATING)"));
        // A refused file counts what the receiver kept of it, not what the sender had sent before hearing.
        app::transfer_view refused =
            ended(receiving(1, transfer_state::running, 1 << 20, 131072), true, "refused", transfer_status::refused);
        QCOMPARE(transferBytesShown(refused), std::uint64_t{0});
        QCOMPARE(shown(transferPercentText(refused)), QString("  0%"));
        refused.bytes_kept = 1 << 19;
        QCOMPARE(shown(transferPercentText(refused)), QString(" 50%"));
    }

    void percentHasThreeDigitsIsClampedAndAnEmptyFileIsWholeOnceDelivered() {
        QCOMPARE(shown(transferPercentText(receiving(1, transfer_state::running, 200, 50))), QString(" 25%"));
        QCOMPARE(shown(transferPercentText(receiving(1, transfer_state::running, 100, 300))), QString("100%"));
        QCOMPARE(shown(transferPercentText(ended(receiving(1, transfer_state::completed, 0, 0), false))),
                 QString("100%"));
        QCOMPARE(shown(transferPercentText(ended(receiving(1, transfer_state::completed, 0, 0), true))),
                 QString("  0%"));
        QCOMPARE(shown(transferPercentText(receiving(1, transfer_state::running, 0, 0))), QString("  0%"));
    }

    // Speed is measured between refreshes and smoothed; time left follows from it; neither shows for an ended row.
    void speedAndTimeLeftComeFromRefreshesAndAResumedFileSaysWhereItWentOn() {
        using namespace std::chrono_literals;
        TransferListModel model;
        const auto start = std::chrono::steady_clock::time_point{} + 1h;
        const int speed = columnIndex(TransferColumn::speed);
        const int left = columnIndex(TransferColumn::time_left);
        model.refresh({receiving(1, transfer_state::running, 100'000'000, 0)}, start);
        QCOMPARE(model.index(0, speed).data().toString(), QString());
        model.refresh({receiving(1, transfer_state::running, 100'000'000, 0)}, start + 100ms);
        model.refresh({receiving(1, transfer_state::running, 100'000'000, 10'000'000)}, start + 1s);
        QCOMPARE(model.index(0, speed).data().toString(), QString("10.0 MB/s"));
        QCOMPARE(model.index(0, left).data().toString(), QString("9 s"));
        model.refresh({receiving(1, transfer_state::running, 100'000'000, 15'000'000)}, start + 2s);
        QCOMPARE(model.index(0, speed).data().toString(), QString("8.0 MB/s"));
        QCOMPARE(model.index(0, left).data().toString(), QString("11 s"));
        QCOMPARE(model.index(0, columnIndex(TransferColumn::percent)).data(TransferListModel::percent_role).toInt(),
                 15);
        model.refresh({ended(receiving(1, transfer_state::completed, 100'000'000, 100'000'000), false)}, start + 3s);
        QCOMPARE(model.index(0, speed).data().toString(), QString());
        QCOMPARE(model.index(0, left).data().toString(), QString());

        app::transfer_view resumed = receiving(2, transfer_state::running, 200, 150);
        resumed.resumed_from = 102;
        QCOMPARE(shown(transferStatusText(resumed)), QString("xferring... (resumed at 51 %)"));
        resumed.state = transfer_state::completed;
        QCOMPARE(shown(transferStatusText(ended(resumed, false))), QString("COMPLETED (resumed at 51 %)"));
        resumed.state = transfer_state::running;
        resumed.size = 4ULL << 40;
        resumed.bytes_done = 0;
        QCOMPARE(shown(timeLeftText(resumed, 1e6)), QString("1221 h 40 min"));
    }

    void receiverLearnsTheNameFromTheRecord() {
        QCOMPARE(shown(transferFileName(receiving(1, transfer_state::authenticating, 0, 0))), QString("<unknown>"));
        QCOMPARE(shown(transferFileName(receiving(1, transfer_state::running, 0, 0))), QString("notes.txt"));
        app::transfer_view stored = ended(receiving(1, transfer_state::completed, 0, 0), false);
        stored.stored_path = "/home/bob/box/Alice/notes(1).txt";
        QCOMPARE(shown(transferFileName(stored)), QString("notes(1).txt"));
    }

    // Rows follow their transfers by id: a refresh updates in place, appends in list order, drops what is gone.
    void modelKeepsRowsBoundToTheirTransfers() {
        TransferListModel model;
        model.refresh(
            {receiving(7, transfer_state::running, 5ULL << 30, 1), receiving(8, transfer_state::running, 10, 1)});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(0, 2).data().toString(), QString("5.4 GB"));
        QCOMPARE(model.index(0, 2).data(Qt::ToolTipRole).toString(), QString("5,368,709,120 bytes"));
        model.refresh({receiving(8, transfer_state::running, 10, 9),
                       ended(receiving(9, transfer_state::authenticating, 10, 0), true, "keys differ")});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(1, 0).data(Qt::ToolTipRole).toString(),
                 QString("Sent as notes.txt\nFAILED (keys differ)"));
        QVERIFY(model.transferAt(0).id == 8);
        QCOMPARE(model.index(0, 3).data().toString(), QString("9 bytes"));
        QVERIFY(model.transferAt(1).id == 9);
        QCOMPARE(model.headerData(columnIndex(TransferColumn::address), Qt::Horizontal).toString(), QString("IP:PORT"));
    }

    // The news of a send is given once, when every file of its connection has ended; a sender's rows stay quiet.
    void modelAnnouncesEachIncomingSendOnceWhenAllItsFilesEnded() {
        TransferListModel model;
        std::vector<std::size_t> announced;
        connect(&model, &TransferListModel::incomingSendEnded,
                [&announced](const std::vector<app::transfer_view>& rows) { announced.push_back(rows.size()); });
        app::transfer_view sending = ended(receiving(3, transfer_state::completed, 10, 10), false);
        sending.direction = app::transfer_direction::sending;
        app::transfer_view underWay = fromAlice(11, 10, true, 5);
        underWay.connection_ended = false;
        model.refresh({fromAlice(10, 10, true, 5), underWay, sending});
        QVERIFY(announced.empty());
        for (int round = 0; round < 2; ++round) {
            model.refresh({fromAlice(10, 10, true, 5), fromAlice(11, 10, false, 5), sending});
        }
        QVERIFY(announced == std::vector<std::size_t>{2});
    }

    void noticeSaysWhatOneSendBroughtAndNeverNamesAStranger() {
        // 5 GiB stored, of which the record could announce only the low 32 bits.
        app::transfer_view stored = fromAlice(1, 0, true, 5ULL << 30);
        stored.size = 1ULL << 30;
        stored.stored_path = "/home/bob/box/Alice/report(1).pdf";
        const std::optional<ParcelNotice> kept = parcelNotice({stored});
        QVERIFY(kept.has_value());
        QCOMPARE(shown(kept->summary), QString("Parcel from Alice"));
        QCOMPARE(shown(kept->body), QString("report(1).pdf (5,368,709,120 bytes) is in your parcel box"));

        const std::optional<ParcelNotice> lost = parcelNotice({fromAlice(2, 0, false, 10)});
        QCOMPARE(shown(lost->summary), QString("Parcel from Alice failed"));
        QCOMPARE(shown(lost->body), QString("over the size limit"));

        const std::optional<ParcelNotice> four =
            parcelNotice({fromAlice(1, 9, true, 12'000'000), fromAlice(2, 9, true, 300'000), fromAlice(3, 9, true, 0),
                          fromAlice(4, 9, false, 10)});
        QCOMPARE(shown(four->summary), QString("3 of 4 parcels from Alice (12.3 MB)"));
        QCOMPARE(shown(four->body), QString("1 file did not arrive: notes.txt: REFUSED (over the size limit)"));

        std::vector<app::transfer_view> album{fromAlice(1, 9, true, 10), fromAlice(2, 9, true, 10)};
        for (app::transfer_view& file : album) {
            file.folder_name = "album";
        }
        QCOMPARE(shown(parcelNotice(album)->summary), QString("Folder 'album' from Alice (2 files)"));

        QVERIFY(!parcelNotice({ended(receiving(3, transfer_state::authenticating, 0, 0), true, "not authenticated")})
                     .has_value());
    }

    // The notice offers what arrived: one file to open, several to show where they are.
    void noticeActionsOpenOneFileAndShowSeveralInTheirFolder() {
        app::transfer_view one = fromAlice(1, 0, true, 10);
        one.stored_path = "/box/Alice/report.pdf";
        const ParcelNotice single = *parcelNotice({one});
        QCOMPARE(shown(single.stored_path), QString("/box/Alice/report.pdf"));
        QCOMPARE(NoticeActionTable::actionList({shown(single.stored_path), single.several}),
                 QStringList({"default", "Open", "open", "Open", "show", "Show in Folder"}));
        const ParcelNotice two = *parcelNotice({fromAlice(2, 9, false, 10), one});
        QVERIFY(two.several && two.stored_path == one.stored_path);
        QVERIFY(parcelNotice({fromAlice(3, 0, false, 10)})->stored_path.empty());

        NoticeActionTable table;
        table.remember(7, {"/box/Alice/report.pdf", false});
        table.remember(8, {"/box/Alice/a.jpg", true});
        test::RecordingLauncher launcher;
        QVERIFY(table.invoke(7, "default", launcher) && table.invoke(8, "default", launcher));
        QVERIFY(table.invoke(7, "show", launcher));
        table.forget(7);
        QVERIFY2(!table.invoke(7, "open", launcher), "a closed notice is forgotten");
        QCOMPARE(launcher.opened, QStringList{"/box/Alice/report.pdf"});
        QCOMPARE(launcher.shown, QStringList({"/box/Alice/a.jpg", "/box/Alice/report.pdf"}));
    }

    void theSenderHearsHowItsSendEnded() {
        const auto sent = [](const char* name, bool delivered) {
            app::transfer_view file;
            file.direction = app::transfer_direction::sending;
            file.friend_name = "Bob";
            file.file_name = name;
            file.size = 1500;
            file.state = delivered ? transfer_state::completed : transfer_state::connecting_to_destination;
            return ended(file, !delivered, delivered ? "" : "nobody answers", transfer_status::connect);
        };
        QCOMPARE(shown(sentNotice({sent("report.pdf", true)})->summary), QString("report.pdf delivered to Bob"));
        const ParcelNotice lost = *sentNotice({sent("report.pdf", false)});
        QCOMPARE(shown(lost.summary), QString("report.pdf was not delivered to Bob"));
        QCOMPARE(shown(lost.body), QString("FAILED (nobody answers)"));
        QCOMPARE(shown(sentNotice({sent("a", true), sent("b", true), sent("c", true), sent("d", true)})->summary),
                 QString("4 files delivered to Bob"));
        const ParcelNotice some = *sentNotice({sent("a", true), sent("b", false), sent("c", true)});
        QCOMPARE(shown(some.summary), QString("2 of 3 files delivered to Bob"));
        QCOMPARE(shown(some.body), QString("b: FAILED (nobody answers)"));
    }

    // Strangers stay out of the list and are counted once each, however often a refresh sees them.
    void strangersAreCountedNotListed() {
        StrangerFilter filter;
        const std::vector<app::transfer_view> rows{
            receiving(1, transfer_state::authenticating, 0, 0), fromAlice(2, 0, true, 5),
            ended(receiving(3, transfer_state::authenticating, 0, 0), true, "keys differ")};
        for (int round = 0; round < 2; ++round) {
            const std::vector<app::transfer_view> shownRows = filter.friendsOnly(rows);
            QCOMPARE(shownRows.size(), std::size_t{1});
            QCOMPARE(shownRows[0].id, std::uint64_t{2});
        }
        QCOMPARE(shown(filter.refusedText()),
                 QString("1 connection from an unknown sender refused; see the activity log"));
        (void)filter.friendsOnly({ended(receiving(1, transfer_state::authenticating, 0, 0), true)});
        QCOMPARE(shown(filter.refusedText()),
                 QString("2 connections from unknown senders refused; see the activity log"));
    }

    void fittingKeepsSharesAndNeverGoesBelowTheOpeningWidths() {
        std::vector<int> opening;
        for (const transfer_column& column : transfer_columns) {
            opening.push_back(column.width);
        }
        const std::vector<int> narrow = fittedColumnWidths(opening, 100);
        QVERIFY(narrow == opening);
        const std::vector<int> wide = fittedColumnWidths(opening, 1440);
        QCOMPARE(wide[0], 160);
        QCOMPARE(wide[columnIndex(TransferColumn::address)], 240);
    }
};

} // namespace tiv::ui

QTEST_GUILESS_MAIN(tiv::ui::TransferRows)
#include "transfer_rows_test.moc"
