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
        model.refresh({receiving(8, RUNNING, 10, 9), receiving(9, RUNNING, 10, 0)});
        QCOMPARE(model.rowCount(), 2);
        QVERIFY(model.transferAt(0).id == 8);
        QCOMPARE(model.index(0, 3).data().toString(), QString("9"));
        QVERIFY(model.transferAt(1).id == 9);
        QCOMPARE(model.headerData(6, Qt::Horizontal).toString(), QString("IP:PORT"));
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
