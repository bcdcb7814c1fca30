#include <QTest>

#include "net/transfer_state.h"
#include "ui/transfer_columns.h"
#include "ui/transfer_list_model.h"
#include "ui/transfer_texts.h"

namespace tiv::ui {

namespace {
transfer_snapshot receiving(std::uint64_t id, int state, std::uint64_t size, std::uint64_t done) {
    transfer_snapshot transfer;
    transfer.id = id;
    transfer.direction = transfer_direction::receiving;
    transfer.state = state;
    transfer.size = size;
    transfer.bytes_done = done;
    transfer.file_name = "notes.txt";
    return transfer;
}

QString shown(const std::string& text) {
    return QString::fromStdString(text);
}

transfer_snapshot ended(transfer_snapshot transfer, bool failed, std::string why = {}) {
    transfer.finished = true;
    transfer.failed = failed;
    transfer.status_text = std::move(why);
    return transfer;
}
} // namespace

// What one row says of a transfer, decided once for every list.
class TransferRows : public QObject {
    Q_OBJECT
private slots:
    void statusNamesFailuresAndNeverCallsAFailedTransferCompleted() {
        QCOMPARE(shown(transferStatusText(receiving(1, RUNNING, 10, 5))), QString("xferring..."));
        QCOMPARE(shown(transferStatusText(ended(receiving(1, COMPLETED, 10, 10), false))), QString("COMPLETED"));
        QCOMPARE(shown(transferStatusText(ended(receiving(1, COMPLETED, 10, 4), true, "the transfer was stopped"))),
                 QString("ERROR: COMPLETED (the transfer was stopped)"));
        QCOMPARE(shown(transferStatusText(ended(receiving(1, AUTHENTICATING, 0, 0), true))),
                 QString("ERROR: AUTHENTICATING"));
    }

    void percentHasThreeDigitsIsClampedAndAnEmptyFileIsWholeOnceDelivered() {
        QCOMPARE(shown(transferPercentText(receiving(1, RUNNING, 200, 50))), QString(" 25%"));
        QCOMPARE(shown(transferPercentText(receiving(1, RUNNING, 100, 300))), QString("100%"));
        QCOMPARE(shown(transferPercentText(ended(receiving(1, COMPLETED, 0, 0), false))), QString("100%"));
        QCOMPARE(shown(transferPercentText(ended(receiving(1, COMPLETED, 0, 0), true))), QString("  0%"));
        QCOMPARE(shown(transferPercentText(receiving(1, RUNNING, 0, 0))), QString("  0%"));
    }

    void receiverLearnsTheNameFromTheRecord() {
        QCOMPARE(shown(transferFileName(receiving(1, AUTHENTICATING, 0, 0))), QString("<unknown>"));
        QCOMPARE(shown(transferFileName(receiving(1, RUNNING, 0, 0))), QString("notes.txt"));
    }

    // Rows follow their transfers by id: a refresh updates in place, appends in list order, drops what is gone.
    void modelKeepsRowsBoundToTheirTransfers() {
        TransferListModel model;
        model.refresh({receiving(7, RUNNING, 5ULL << 30, 1), receiving(8, RUNNING, 10, 1)});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(0, 2).data().toString(), QString("5368709120"));
        model.refresh({receiving(8, RUNNING, 10, 9), ended(receiving(9, AUTHENTICATING, 10, 0), true, "keys differ")});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(1, 0).data(Qt::ToolTipRole).toString(), QString("ERROR: AUTHENTICATING (keys differ)"));
        QVERIFY(model.transferAt(0).id == 8);
        QCOMPARE(model.index(0, 3).data().toString(), QString("9"));
        QVERIFY(model.transferAt(1).id == 9);
        QCOMPARE(model.headerData(6, Qt::Horizontal).toString(), QString("IP:PORT"));
    }

    // The news of an ended parcel is given once: a row seen finished again, or a sender's row, stays quiet.
    void modelSignalsEachIncomingTransferOnceWhenItFinishes() {
        TransferListModel model;
        std::vector<std::uint64_t> finished;
        connect(&model, &TransferListModel::incomingFinished,
                [&finished](const transfer_snapshot& transfer) { finished.push_back(transfer.id); });
        transfer_snapshot sending = ended(receiving(3, COMPLETED, 10, 10), false);
        sending.direction = transfer_direction::sending;
        model.refresh({receiving(1, RUNNING, 10, 5), sending, ended(receiving(2, COMPLETED, 10, 10), false)});
        QVERIFY(finished == std::vector<std::uint64_t>{2});
        for (int round = 0; round < 2; ++round) {
            model.refresh(
                {ended(receiving(1, RUNNING, 10, 5), true), sending, ended(receiving(2, COMPLETED, 10, 10), false)});
        }
        QVERIFY((finished == std::vector<std::uint64_t>{2, 1}));
    }

    void noticeNamesTheStoredFileOrWhyItFailedAndNeverAStranger() {
        // 5 GiB stored, of which the record could announce only the low 32 bits.
        transfer_snapshot stored = ended(receiving(1, COMPLETED, 1ULL << 30, 5ULL << 30), false);
        stored.friend_name = "Alice";
        stored.stored_path = "/home/bob/box/Alice/report(1).pdf";
        const std::optional<ParcelNotice> kept = parcelNotice(stored);
        QVERIFY(kept.has_value());
        QCOMPARE(shown(kept->summary), QString("Parcel from Alice"));
        QCOMPARE(shown(kept->body), QString("report(1).pdf (5,368,709,120 bytes) is in your parcel box"));

        transfer_snapshot refused = ended(receiving(2, VERIFYING_PERMISSIONS, 10, 0), true, "over the size limit");
        refused.friend_name = "Alice";
        const std::optional<ParcelNotice> lost = parcelNotice(refused);
        QVERIFY(lost.has_value());
        QCOMPARE(shown(lost->summary), QString("Parcel from Alice failed"));
        QCOMPARE(shown(lost->body), QString("over the size limit"));

        QVERIFY(!parcelNotice(ended(receiving(3, AUTHENTICATING, 0, 0), true, "not authenticated")).has_value());
    }

    void fittingKeepsSharesAndNeverGoesBelowTheOpeningWidths() {
        std::vector<int> opening;
        for (const transfer_column& column : transfer_columns) {
            opening.push_back(column.width);
        }
        const std::vector<int> narrow = fittedColumnWidths(opening, 100);
        QVERIFY(narrow == opening);
        const std::vector<int> wide = fittedColumnWidths(opening, 1190);
        QCOMPARE(wide[0], 160);
        QCOMPARE(wide[6], 240);
    }
};

} // namespace tiv::ui

QTEST_GUILESS_MAIN(tiv::ui::TransferRows)
#include "transfer_rows_test.moc"
